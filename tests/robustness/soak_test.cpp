// Soak through the simulated source: a long run of GPS+BeiDou bursts, each
// carrying its own number in the GGA time field. Every burst must be
// delivered exactly once and in order, every sentence must reach the NMEA
// callback, the reader thread must not touch the heap after its first burst,
// and the process must not grow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "alloc_counter.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

#if !VYR_ALLOC_COUNTER || defined(__arm__)
// Sanitizers and the emulated target run the same test on fewer bursts.
constexpr uint32_t kBursts = 50000;
#else
constexpr uint32_t kBursts = 1000000;
#endif

// "@@@@@@" is replaced by the burst number (six digits, 0..999999).
constexpr const char* kTemplates[] = {
    "$GNGGA,@@@@@@.00,4807.03800,N,01131.00002,E,1,16,0.79,519.3,M,47.6,M,,*4A",
    "$GNGSA,A,3,02,04,05,10,11,12,16,17,18,,,,1.34,0.79,1.07,1*06",
    "$GNGSA,A,3,04,07,12,15,24,29,35,,,,,,1.34,0.79,1.07,4*05",
    "$GNRMC,@@@@@@.00,A,4807.03800,N,01131.00002,E,0.005,,140524,,,A*67",
    "$GPGSV,3,1,12,02,59,329,41,04,28,282,32,05,54,184,44,10,60,231,45*73",
    "$GPGSV,3,2,12,11,41,177,36,12,72,117,49,15,01,225,19,16,55,332,39*71",
    "$GPGSV,3,3,12,17,26,025,29,18,32,226,32,21,10,012,21,24,02,126,*78",
    "$BDGSV,2,1,08,04,48,092,37,07,67,167,49,12,21,203,28,15,60,099,43*61",
    "$BDGSV,2,2,08,17,02,158,,24,16,301,22,29,26,285,34,35,18,306,28*6C",
};
constexpr uint32_t kSentencesPerBurst = sizeof(kTemplates) / sizeof(kTemplates[0]);

struct Soak {
    static inline uint32_t burst = 0;  // reader thread only
    static inline uint32_t sentence = 0;
    static inline std::atomic<uint64_t> notified{0};
    static inline std::atomic<uint32_t> delivered{0};
    static inline std::atomic<uint32_t> outOfOrder{0};

    static int32_t produce(char* buffer, int32_t size) {
        if (burst >= kBursts) return 0;
        if (burst == 1 && sentence == 0) {
            vyr::test::countAllocationsOnThisThread(true);  // start-up is over
        }
        const char* text = kTemplates[sentence];
        const size_t length = std::strlen(text);
        if (static_cast<int32_t>(length) >= size) return 0;
        std::memcpy(buffer, text, length + 1);
        if (char* digits = std::strchr(buffer, '@')) {
            uint32_t n = burst;
            for (int i = 5; i >= 0; --i, n /= 10) digits[i] = static_cast<char>('0' + n % 10);
        }
        if (++sentence == kSentencesPerBurst) {
            sentence = 0;
            ++burst;
        }
        return static_cast<int32_t>(length);
    }

    static void onSentence(const char*, uint32_t, void*) { notified.fetch_add(1); }

    static void onRecord(const GpsMsgPacket* record, void*) {
        const uint32_t n = delivered.load(std::memory_order_relaxed);
        const GpsTime want{static_cast<int32_t>(n / 10000), static_cast<int32_t>(n / 100 % 100),
                           static_cast<int32_t>(n % 100), 0};
        if (std::memcmp(&record->gga.time, &want, sizeof want) != 0 ||
            std::memcmp(&record->rmc.time, &want, sizeof want) != 0) {
            outOfOrder.fetch_add(1);
        }
        delivered.store(n + 1, std::memory_order_release);
    }
};

// A field of /proc/self/status in kB.
long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
            return std::stol(line.substr(n + 1));
        }
    }
    return -1;
}

bool waitForDeliveries(uint32_t count, std::chrono::seconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Soak::delivered.load(std::memory_order_acquire) < count) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(Soak, EveryBurstOnceNoHeapNoGrowth) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    const GpsCallbackReg nmea{VYR_GPS_CALLBACK(Soak::onSentence), nullptr};
    const GpsCallbackReg data{VYR_GPS_CALLBACK(Soak::onRecord), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Register(&data), 0u);
    ASSERT_EQ(Vyr_GPSPARSER_RegisterSimulater(Soak::produce), 0);

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    ASSERT_TRUE(waitForDeliveries(1000, std::chrono::seconds(60)));
    const long rssWarm = statusKb("VmRSS");
    const long hwmWarm = statusKb("VmHWM");

    EXPECT_TRUE(waitForDeliveries(kBursts, std::chrono::seconds(600)))
        << Soak::delivered.load() << " of " << kBursts << " bursts delivered";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long rssEnd = statusKb("VmRSS");
    const long hwmEnd = statusKb("VmHWM");
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0u);

    EXPECT_EQ(Soak::delivered.load(), kBursts);
    EXPECT_EQ(Soak::outOfOrder.load(), 0u);
    EXPECT_EQ(Soak::notified.load(), uint64_t{kBursts} * kSentencesPerBurst);
#if VYR_ALLOC_COUNTER
    EXPECT_EQ(vyr::test::countedAllocations().load(), 0u)
        << "heap calls on the reader thread after its first burst";
#endif
    // Nothing is allocated, so the process keeps its size; a few pages of
    // slack for the test's own stack and the C library's buffers.
    EXPECT_LE(hwmEnd - hwmWarm, 64) << "VmHWM grew from " << hwmWarm << " kB to " << hwmEnd;
    EXPECT_LE(rssEnd - rssWarm, 64) << "VmRSS grew from " << rssWarm << " kB to " << rssEnd;
    std::printf(
        "soak: %u bursts in %.1f s (%.0f bursts/s); VmRSS %ld -> %ld kB, VmHWM %ld -> %ld kB\n",
        kBursts, seconds, kBursts / seconds, rssWarm, rssEnd, hwmWarm, hwmEnd);
}

}  // namespace
