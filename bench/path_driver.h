// The reader thread's path without the device, shared by the benchmarks and
// the cost driver: bytes go through the framer in runs, as the reader frames
// what each device read gives, and each sentence it ends is handed on as the
// reader hands it on (handOnSentence: the NMEA callbacks, then the collector,
// which parses and delivers each completed epoch). feedBytes takes the whole
// input as one run, feedLines one line (with its line end) a run, as a
// receiver that sends a sentence at a time delivers it, and feedFifo runs of
// a UART FIFO's 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "manager/framer_run.h"
#include "manager/reader_thread.h"
#include "vyr_gpsparser.h"

namespace vyr::bench {

struct PathCounts {
    uint64_t sentences = 0;
    uint64_t epochs = 0;
};

inline PathCounts gCounts;

inline void countSentence(const char*, uint32_t, void*) {}
inline void countEpoch(const GpsMsgPacket*, void* user) {
    ++static_cast<PathCounts*>(user)->epochs;
}

// One NMEA and one data callback, as an application would have them.
inline void registerCountingCallbacks() {
    const GpsCallbackReg nmea{VYR_GPS_CALLBACK(countSentence), &gCounts};
    const GpsCallbackReg data{VYR_GPS_CALLBACK(countEpoch), &gCounts};
    (void)VYR_GPSPARSER_RegNMEARecvCbk(&nmea);
    (void)VYR_GPSPARSER_Register(&data);
}

// One run as the reader's passes take it: framed up to each sentence end,
// the sentence handed on, the rest framed in the next pass.
inline void feedRun(mng::Framer& framer, const uint8_t* data, const uint8_t* end) {
    for (const uint8_t* p = data; (p = framer.frame(p, end)) != nullptr;) {
        mng::handOnSentence(framer.sentence(), framer.length());
        ++gCounts.sentences;
    }
}

inline void feedBytes(mng::Framer& framer, const uint8_t* data, size_t size) {
    feedRun(framer, data, data + size);
}

inline void feedLines(mng::Framer& framer, const uint8_t* data, size_t size) {
    const uint8_t* const end = data + size;
    for (const uint8_t* p = data; p != end;) {
        const auto* lf = static_cast<const uint8_t*>(std::memchr(p, '\n', size_t(end - p)));
        const uint8_t* const runEnd = lf != nullptr ? lf + 1 : end;
        feedRun(framer, p, runEnd);
        p = runEnd;
    }
}

inline void feedFifo(mng::Framer& framer, const uint8_t* data, size_t size) {
    constexpr size_t kFifoBytes = 16;
    for (size_t at = 0; at < size; at += kFifoBytes) {
        feedRun(framer, data + at, data + (size - at < kFifoBytes ? size : at + kFifoBytes));
    }
}

}  // namespace vyr::bench
