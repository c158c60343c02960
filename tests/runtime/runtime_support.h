// Helpers of the runtime tests: manager state, waiting, generated bursts and
// scripted simulated sources.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "manager/gps_manager.h"
#include "vyr_gpsparser.h"

namespace vyr::test {

inline uint32_t mngState() {
    return static_cast<uint32_t>(vyr::mng::manager().mngState.load());
}

// Polls until done() or the timeout (generous: qemu and tsan are slow).
template <typename Done>
bool waitUntil(Done&& done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// hhmmss of the n-th second of the day.
inline std::string timeOfSecond(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d%02d%02d.00", (n / 3600) % 24, (n / 60) % 60, n % 60);
    return text;
}

// One GPS-only epoch whose GGA and RMC carry the same time; it completes at
// its GSV, so the RMC is still in the raw set between the two.
inline std::vector<std::string> makeBurst(int second) {
    const std::string t = timeOfSecond(second);
    return {
        "$GPGGA," + t + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39",
        "$GPRMC," + t + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
        "$GPGSV,1,1,04,04,45,100,40,05,30,200,35,09,60,300,45,12,10,050,20*70",
    };
}

inline bool sameTime(const GpsTime& a, const GpsTime& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A simulated source that hands out a fixed list of sentences, one per call,
// then has nothing. The list is set before Start and not changed while a
// reader runs; released limits how many of them may be handed out so far.
struct ScriptedSource {
    static inline std::vector<std::string> sentences;
    static inline std::atomic<size_t> next{0};
    static inline std::atomic<size_t> released{SIZE_MAX};

    static int32_t produce(char* buffer, int32_t size) {
        const size_t index = next.load();
        if (index >= sentences.size() || index >= released.load()) {
            return 0;
        }
        next.store(index + 1);
        return std::snprintf(buffer, static_cast<size_t>(size), "%s", sentences[index].c_str());
    }
};

}  // namespace vyr::test
