// Concurrency: one thread plays the reader (notification + collector) while
// others copy the record, the raw set and the location, and register and
// unregister callbacks. Every copy must hold one whole epoch. Meant to run
// under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>

#include "common/mutex_guard.h"
#include "manager/collector.h"
#include "manager/gps_manager.h"
#include "manager_test_support.h"
#include "vyr_platform.h"

namespace vyr::test {
namespace {

constexpr int kBursts = 1500;

// Burst n: GGA and RMC share the time and the latitude; the RMC speed and
// course are derived from the same k, so a copy mixing two epochs shows.
std::vector<std::string> burst(int n) {
    char time[32];
    std::snprintf(time, sizeof(time), "%02d%02d%02d.00", 10 + n / 3600, (n / 60) % 60, n % 60);
    const int k = n % 500;
    const std::string lat = std::to_string(4000 + k) + ".000";
    return {
        nmea("GPGGA," + std::string(time) + "," + lat + ",N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
        gsa("GP", "04,05,,09,12,,,24,,,,"),
        nmea("GPRMC," + std::string(time) + ",A," + lat + ",N,01131.000,E," + std::to_string(k) +
             ".0," + std::to_string(k % 360) + ".0,230394,,"),
        gsv("GP", 1, 1, 1 + n % 20),
    };
}

bool sameTime(const GpsTime& a, const GpsTime& b) {
    return a.hours == b.hours && a.minutes == b.minutes && a.seconds == b.seconds &&
           a.microseconds == b.microseconds;
}

bool wholeRecord(const GpsMsgPacket& r) {
    return sameTime(r.gga.time, r.rmc.time) && r.gga.latitude.value == r.rmc.latitude.value;
}

std::string timeField(const char* sentence) {
    const char* comma = std::strchr(sentence, ',');
    if (comma == nullptr) return "";
    return std::string(comma + 1, strcspn(comma + 1, ","));
}

std::atomic<int> gDataCalls{0};
std::atomic<int> gBadCallbackRecords{0};

void checkingDataCallback(const GpsMsgPacket* record, void*) {
    gDataCalls.fetch_add(1, std::memory_order_relaxed);
    GpsMsgPacket copy;  // a pull copy from inside a callback is allowed
    if (!wholeRecord(*record) || VYR_GPSPARSER_GetData(&copy) != 0 ||
        std::memcmp(&copy, record, sizeof(copy)) != 0) {
        gBadCallbackRecords.fetch_add(1, std::memory_order_relaxed);
    }
}

void countingNmeaCallback(const char*, uint32_t, void* count) {
    static_cast<std::atomic<int>*>(count)->fetch_add(1, std::memory_order_relaxed);
}

TEST(Concurrency, CopiesAreWholeEpochsWhileTheReaderCollects) {
    VyrPlatform_SetPrintLevel(1);
    mng::manager().mngState = mng::MngState::Start;
    std::atomic<bool> done{false};
    std::atomic<int> badRecords{0}, badRaw{0}, badLocations{0}, copies{0};

    std::vector<std::thread> pullers;
    for (int t = 0; t < 2; ++t) {
        pullers.emplace_back([&] {
            while (!done.load()) {
                GpsMsgPacket record;
                GpsRawData raw;
                GpsLocation location{};
                if (VYR_GPSPARSER_GetData(&record) != 0 || !wholeRecord(record)) ++badRecords;
                if (VYR_GPSPARSER_ReadNmea(&raw) != 0 ||
                    (raw.ggaStr[0] && raw.rmcStr[0] &&
                     timeField(raw.ggaStr) != timeField(raw.rmcStr))) {
                    ++badRaw;
                }
                location.speed = -1.0f;
                if (VYR_GPSPARSER_GetLocation(&location) != 0) ++badLocations;
                if (location.speed != -1.0f) {  // an epoch has been parsed
                    const int k = static_cast<int>(location.latitude) - 4000;
                    const float speed =
                        static_cast<float>(static_cast<double>(static_cast<float>(k)) * 1.852);
                    if (location.speed != speed || location.course != static_cast<float>(k % 360)) {
                        ++badLocations;
                    }
                }
                ++copies;
            }
        });
    }
    std::atomic<int> nmeaCount{0};
    std::thread registrar([&] {
        const GpsCallbackReg data{VYR_GPS_CALLBACK(checkingDataCallback), nullptr};
        const GpsCallbackReg nmeaCb{VYR_GPS_CALLBACK(countingNmeaCallback), &nmeaCount};
        while (!done.load()) {
            EXPECT_EQ(VYR_GPSPARSER_Register(&data), 0u);
            EXPECT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmeaCb), 0u);
            std::this_thread::yield();
            EXPECT_EQ(VYR_GPSPARSER_UnRegister(&data), 0u);
            EXPECT_EQ(VYR_GPSPARSER_UnregNMEARecvCbk(&nmeaCb), 0u);
        }
    });

    for (int n = 0; n < kBursts; ++n) {  // this thread is the reader
        for (const std::string& s : burst(n)) {
            GPS_Notify_Nmea_Packet(s.c_str(), static_cast<uint32_t>(s.size()));
            mng::GPSPARSER_MsgProc(s.c_str());
        }
    }
    done = true;
    for (auto& t : pullers) t.join();
    registrar.join();

    GpsMsgPacket last;
    ASSERT_EQ(VYR_GPSPARSER_GetData(&last), 0u);
    EXPECT_EQ(last.rmc.latitude.value, (4000 + (kBursts - 1) % 500) * 1000);
    EXPECT_EQ(badRecords.load(), 0);
    EXPECT_EQ(badRaw.load(), 0);
    EXPECT_EQ(badLocations.load(), 0);
    EXPECT_EQ(gBadCallbackRecords.load(), 0);
    EXPECT_GT(copies.load(), 0);
    std::printf("copies %d, data callbacks %d, NMEA callbacks %d\n", copies.load(),
                gDataCalls.load(), nmeaCount.load());
}

// Three threads register three distinct descriptors at once: exactly two
// succeed, and they end up in different slots.
TEST(Concurrency, RacingRegistrationsNeverShareASlot) {
    constexpr int kThreads = 3, kRounds = 300;
    int tags[kThreads] = {1, 2, 3};
    std::atomic<uint32_t> results[kThreads];
    std::barrier sync(kThreads + 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const GpsCallbackReg reg = dataReg(&tags[t]);
            for (int round = 0; round < kRounds; ++round) {
                sync.arrive_and_wait();
                results[t] = VYR_GPSPARSER_Register(&reg);
                sync.arrive_and_wait();
                sync.arrive_and_wait();  // checked by the main thread
                VYR_GPSPARSER_UnRegister(&reg);
                sync.arrive_and_wait();
            }
        });
    }
    for (int round = 0; round < kRounds; ++round) {
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        int succeeded = 0;
        for (auto& r : results) succeeded += r.load() == 0 ? 1 : 0;
        for (auto& r : results) EXPECT_TRUE(r.load() == 0 || r.load() == VYR_GPS_E_SLOTS_FULL);
        EXPECT_EQ(succeeded, 2) << "round " << round;
        const GpsCallbackReg* slots = mng::manager().dataCbk;
        {
            MutexGuard lock(mng::manager().mngLock);
            EXPECT_NE(slots[0].callback, nullptr);
            EXPECT_NE(slots[1].callback, nullptr);
            EXPECT_NE(slots[0].userData, slots[1].userData);
        }
        sync.arrive_and_wait();
        sync.arrive_and_wait();
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(isAllZero(mng::manager().dataCbk, sizeof(mng::manager().dataCbk)));
}

}  // namespace
}  // namespace vyr::test
