// Reader thread body. Each pass takes one whole sentence from the simulated
// source, or one byte from the serial device (waiting at most 500 ms) for the
// framer; every sentence goes to the NMEA callbacks, then to the collector.
// runFlag is looked at between passes, so Stop is noticed within one pass.
#include "manager/reader_thread.h"

#include <sys/prctl.h>
#include <unistd.h>

#include "common/log.h"
#include "device/serial_device.h"
#include "manager/collector.h"
#include "manager/framer.h"
#include "manager/gps_manager.h"

namespace vyr::mng {

namespace {

constinit thread_local bool tOnReaderThread = false;

// Pause after a failed device read, so that a broken line does not spin.
inline constexpr useconds_t kInputFailurePauseUs = 1000000;
// Slice of the pause after end of file, between two looks at runFlag.
inline constexpr int32_t kEndOfFileSliceMs = 50;

// End of file on the line: a hung-up terminal (a USB receiver unplugged, the
// master of a pseudo-terminal closed) or a regular file at its end. select
// reports such a descriptor readable at once, every time, so without a pause
// the reader would pass again immediately and take a whole core. It waits out
// its read timeout instead, in slices, so that Stop is still noticed at once.
// Bytes that arrive meanwhile stay on the line for the next pass.
void pauseAfterEndOfFile(const GpsManager& mng) noexcept {
    for (int32_t waited = 0; waited < dev::kReadTimeoutMs; waited += kEndOfFileSliceMs) {
        if (mng.runFlag.load(std::memory_order_relaxed) == 0) {
            return;
        }
        usleep(static_cast<useconds_t>(kEndOfFileSliceMs) * 1000);
    }
}

// Marks the calling thread as the reader for as long as the thread body runs,
// also when it is called directly rather than as a thread of Start.
class ReaderThreadMark {
public:
    ReaderThreadMark() noexcept { tOnReaderThread = true; }
    ~ReaderThreadMark() { tOnReaderThread = false; }
    ReaderThreadMark(const ReaderThreadMark&) = delete;
    ReaderThreadMark& operator=(const ReaderThreadMark&) = delete;
};

// NMEA callbacks first (under mngLock), then the collector, which may parse
// and deliver a completed epoch. The sentence is handed on in place.
void handOn(const Framer& framer) noexcept {
    GPS_Notify_Nmea_Packet(framer.sentence(), framer.length());
    GPSPARSER_MsgProc(framer.sentence());
}

void readerPass(GpsManager& mng, Framer& framer, GpsDevData& request) noexcept {
    // A pass uses the source it read here, even if it is replaced meanwhile.
    const GpsSimulatorFn simulator = mng.simulatorFn.load(std::memory_order_acquire);
    if (simulator != nullptr) {
        const int32_t count = simulator(framer.buffer(), kSentenceSize);
        if (count > 0) {
            framer.takeSimulated(count);
            mng.dataReceived.store(1, std::memory_order_relaxed);
            handOn(framer);
            return;
        }
    }
    const uint32_t result = dev::GpsGetRawData(&request, dev::kReadTimeoutMs);
    if (result == VYR_GPS_E_DEV_INPUT) {
        VYR_LOG_ERR_IN("MNG_GPS_MsgReadThread", "error\n");
        usleep(kInputFailurePauseUs);
        return;
    }
    // Timeout and would-block end the pass silently.
    if (result != VYR_GPS_OK) {
        return;
    }
    if (request.readLen == 0) {
        pauseAfterEndOfFile(mng);
        return;
    }
    mng.dataReceived.store(1, std::memory_order_relaxed);
    if (framer.frameByte(request.data)) {
        handOn(framer);
    }
}

}  // namespace

bool onReaderThread() noexcept {
    return tOnReaderThread;
}

}  // namespace vyr::mng

extern "C" {

void* MNG_GPS_MsgReadThread(void* /*arg*/) {
    using namespace vyr::mng;
    prctl(PR_SET_NAME, "GPS_MsgReadThread", 0, 0, 0);  // the kernel keeps 15 characters
    const ReaderThreadMark mark;

    GpsManager& mng = manager();
    GpsDevData request{};
    request.len = 1;
    Framer framer;  // idle, length 0: a sentence cut by the last Stop is lost

    // runFlag was set by Start before this thread existed; Stop clears it and
    // joins, which orders everything this thread did before the join.
    while (mng.runFlag.load(std::memory_order_relaxed) != 0) {
        readerPass(mng, framer, request);
    }
    return nullptr;
}

int32_t Vyr_GPSPARSER_RegisterSimulater(GpsSimulatorFn simulator) {
    // Release: whatever the application prepared for its source is visible to
    // the reader that picks the source up.
    vyr::mng::manager().simulatorFn.store(simulator, std::memory_order_release);
    return 0;
}

}  // extern "C"
