// The reader thread's path without the device, shared by the benchmarks and
// the cost driver: bytes go through the framer, a run at a time (feedBytes)
// or one byte at a time as the reader frames what each device read gives
// (feedEachByte); each sentence it ends goes to the NMEA callbacks and then to
// the collector, which parses and delivers each completed epoch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "manager/collector.h"
#include "manager/framer_run.h"
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

inline void handOn(const mng::Framer& framer) {
    GPS_Notify_Nmea_Packet(framer.sentence(), framer.length());
    (void)mng::GPSPARSER_MsgProc(framer.sentence());
    ++gCounts.sentences;
}

inline void feedBytes(mng::Framer& framer, const uint8_t* data, size_t size) {
    const uint8_t* const end = data + size;
    for (const uint8_t* p = data; (p = framer.frame(p, end)) != nullptr;) handOn(framer);
}

inline void feedEachByte(mng::Framer& framer, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (framer.frameByte(data[i])) handOn(framer);
    }
}

}  // namespace vyr::bench
