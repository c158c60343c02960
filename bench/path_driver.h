// The reader thread's path without the device, shared by the benchmarks and
// the cost driver: bytes go through the framer, a run at a time; each sentence
// it ends goes to the NMEA callbacks and then to the collector, which parses
// and delivers each completed epoch. What the reader does with each byte it
// reads, without the one device read per byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "manager/collector.h"
#include "manager/framer.h"
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

inline void feedBytes(mng::Framer& framer, const uint8_t* data, size_t size) {
    const uint8_t* const end = data + size;
    for (const uint8_t* p = data; (p = framer.frame(p, end)) != nullptr;) {
        GPS_Notify_Nmea_Packet(framer.sentence(), framer.length());
        (void)mng::GPSPARSER_MsgProc(framer.sentence());
        ++gCounts.sentences;
    }
}

}  // namespace vyr::bench
