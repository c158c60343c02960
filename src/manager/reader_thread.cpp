// Reader thread body. Each pass takes one whole sentence from the simulated
// source, or the bytes the serial device has (waiting at most 500 ms for
// them), which it frames up to the first sentence end; every sentence goes to
// the NMEA callbacks, then to the collector. A pass hands on at most one
// sentence, as when the device was read a byte at a time: runFlag is looked at
// between passes, so Stop is noticed within one pass, and bytes after the
// sentence stay in the device's buffer for the next pass (or the next Start).
#include "manager/reader_thread.h"

#include <sys/prctl.h>
#include <unistd.h>

#include "common/log.h"
#include "common/mutex_guard.h"
#include "device/serial_device.h"
#include "manager/collector.h"
#include "manager/framer_run.h"
#include "manager/gps_manager.h"
#include "manager/registry.h"

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

void readerPass(GpsManager& mng, Framer& framer) noexcept {
    // A pass uses the source it read here, even if it is replaced meanwhile.
    const GpsSimulatorFn simulator = mng.simulatorFn.load(std::memory_order_acquire);
    if (simulator != nullptr) {
        const int32_t count = simulator(framer.buffer(), kSentenceSize);
        if (count > 0) {
            framer.takeSimulated(count);
            mng.dataReceived.store(1, std::memory_order_relaxed);
            handOnSentence(framer.sentence(), framer.length());
            return;
        }
    }
    uint32_t unused = 0;
    const uint32_t result = dev::readRun(dev::kReadTimeoutMs, unused);
    if (result == VYR_GPS_E_DEV_INPUT) {
        VYR_LOG_ERR_IN("MNG_GPS_MsgReadThread", "error\n");
        usleep(kInputFailurePauseUs);
        return;
    }
    // Timeout and would-block end the pass silently.
    if (result != VYR_GPS_OK) {
        return;
    }
    const uint8_t* const begin = dev::runBegin();
    const uint8_t* const end = dev::runEnd();
    if (begin == end) {
        pauseAfterEndOfFile(mng);
        return;
    }
    mng.dataReceived.store(1, std::memory_order_relaxed);
    const uint8_t* const ended = framer.frame(begin, end);
    // Taken before the callbacks run: from here the bytes are the framer's.
    dev::takeFromRun(ended != nullptr ? ended : end);
    if (ended != nullptr) {
        handOnSentence(framer.sentence(), framer.length());
    }
}

}  // namespace

void handOnSentence(const char* sentence, uint32_t length) noexcept {
    const MutexGuard lock(mngLock());
    notifyNmeaLocked(sentence, length);
    GPSPARSER_MsgProc(sentence);
}

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
    Framer framer;  // idle, length 0: a sentence cut by the last Stop is lost

    // runFlag was set by Start before this thread existed; Stop clears it and
    // joins, which orders everything this thread did before the join.
    while (mng.runFlag.load(std::memory_order_relaxed) != 0) {
        readerPass(mng, framer);
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
