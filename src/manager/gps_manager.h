// The one GPS manager of the process: its file-scope state and the named
// functions through which the other subsystems reach it.
//
// Locks:
//  - mngLock guards the callback slots, every callback invocation and the
//    clearing of the collected epoch after delivery. Callbacks run with it
//    held; the reader takes it once per sentence, for the NMEA callbacks and
//    the collection, parse and delivery that follow. It checks its owner (an error-checking mutex):
//    locked again by the thread that holds it, it answers EDEADLK instead of hanging, which is how
//    the registry recognises a call from inside a callback. It lives beside
//    the manager (see mngLock()): its initialiser is not all zeros.
//  - recordLock guards msgPacket, gpsRawData (with rawHeader) and locScratch
//    against the pull copies: the reader thread takes it around each store
//    into the raw set, the parse and the clearing; GetData, ReadNmea and
//    GetLocation take it for their copies. It is never held while calling out
//    of the library. Order: mngLock before recordLock, never the reverse.
// Both are statically initialised and live as long as the process.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "common/mutex_guard.h"
#include "vyr_gpsparser.h"

namespace vyr::mng {

enum class MngState : uint32_t {
    Deinit = MNG_GPS_STATE_DEINIT,
    Init = MNG_GPS_STATE_INIT,
    Start = MNG_GPS_STATE_START,
    Stop = MNG_GPS_STATE_STOP,
};

// Progress of the epoch being collected; zero at load and after each dispatch.
struct GpsRawHeader {
    uint32_t flags;
    int32_t gpGsvTotal;
    int32_t gpGsvNum;
    int32_t bdGsvTotal;
    int32_t bdGsvNum;
};
static_assert(sizeof(GpsRawHeader) == 20, "GpsRawHeader is five 32-bit words");

// Bits of GpsRawHeader::flags.
inline constexpr uint32_t kFlagGga = 1;
inline constexpr uint32_t kFlagGsa = 2;
inline constexpr uint32_t kFlagRmc = 4;
inline constexpr uint32_t kFlagGpGsvComplete = 16;
inline constexpr uint32_t kFlagBdGsvComplete = 32;
inline constexpr uint32_t kCompleteMaskGps = kFlagGga | kFlagGsa | kFlagRmc | kFlagGpGsvComplete;
inline constexpr uint32_t kCompleteMaskGpsBd = kCompleteMaskGps | kFlagBdGsvComplete;
static_assert(kCompleteMaskGps == 23 && kCompleteMaskGpsBd == 55, "completion masks");

// All members start at zero, so the whole manager lives in .bss; the device
// descriptor, the one member that starts at -1, is kept beside it (see
// deviceFd()) rather than moving 4.8 kB of zeros into .data.
struct GpsManager {
    uint32_t bdSupported = 0;               // reader thread only; set once
    std::atomic<uint32_t> dataReceived{0};  // set by the reader, never cleared
    std::atomic<uint32_t> runFlag{0};       // written by Start/Stop, read by the reader
    pthread_t readThread{};                 // valid while mngState is Start
    std::atomic<MngState> mngState{MngState::Deinit};
    GpsCallbackReg dataCbk[2]{};  // under mngLock
    GpsCallbackReg nmeaCbk[2]{};  // under mngLock
    GpsMsgPacket msgPacket{};     // written under recordLock
    GpsRawHeader rawHeader{};     // reader thread; cleared under recordLock
    GpsRawData gpsRawData{};      // written under recordLock
    GpsMsgPacket locScratch{};    // under recordLock
    std::atomic<GpsSimulatorFn> simulatorFn{nullptr};
    pthread_mutex_t recordLock = PTHREAD_MUTEX_INITIALIZER;
};

// The manager itself, for the manager subsystem's own files.
GpsManager& manager() noexcept;

// The manager lock (error-checking; see above).
pthread_mutex_t& mngLock() noexcept;

// --- For the device subsystem ---------------------------------------------
int32_t deviceFd() noexcept;
void setDeviceFd(int32_t fd) noexcept;

// --- For the location subsystem --------------------------------------------
// Copies the latest parsed record into the manager's working copy and calls
// convert(const GpsMsgPacket&) on it, all under recordLock, so the copy is one
// whole epoch and concurrent callers do not share the working copy.
template <typename Convert>
void withRecordSnapshot(Convert&& convert) {
    GpsManager& mng = manager();
    MutexGuard lock(mng.recordLock);
    mng.locScratch = mng.msgPacket;
    convert(static_cast<const GpsMsgPacket&>(mng.locScratch));
}

}  // namespace vyr::mng
