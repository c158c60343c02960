// The reader at full speed while application threads register and
// unregister callbacks and pull copies, over many Start/Stop cycles. Meant
// for the ThreadSanitizer build; elsewhere it checks that every copy and
// every delivered record is one whole epoch, and that the pull operations do
// not deadlock when called from callbacks.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/runtime_support.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"

namespace {

// An endless source of bursts whose GGA and RMC carry the same time. Called
// only on the reader thread; Stop's join orders one run after the next.
int gBurstSecond = 0;
size_t gBurstIndex = 0;
std::vector<std::string> gBurst;

int32_t endlessBursts(char* buffer, int32_t size) {
    if (gBurstIndex == gBurst.size()) {
        gBurst = vyr::test::makeBurst(gBurstSecond++ % 86400);
        gBurstIndex = 0;
    }
    return std::snprintf(buffer, static_cast<size_t>(size), "%s", gBurst[gBurstIndex++].c_str());
}

std::atomic<int> gEpochs{0};
std::atomic<int> gSentences{0};
std::atomic<int> gTorn{0};

bool wholeRecord(const GpsMsgPacket& r) {
    return vyr::test::sameTime(r.gga.time, r.rmc.time);
}

// GGA and RMC of the raw set, when both are there, name the same second.
bool wholeRawSet(const GpsRawData& raw) {
    if (raw.ggaStr[0] == '\0' || raw.rmcStr[0] == '\0') {
        return true;
    }
    return std::strncmp(raw.ggaStr + 7, raw.rmcStr + 7, 6) == 0;
}

// Pulls from inside a callback: the pull operations take only recordLock.
void pullEverything() {
    GpsMsgPacket record;
    GpsRawData raw;
    GpsLocation location;
    if (VYR_GPSPARSER_GetData(&record) == 0 && !wholeRecord(record)) {
        gTorn.fetch_add(1);
    }
    if (VYR_GPSPARSER_ReadNmea(&raw) == 0 && !wholeRawSet(raw)) {
        gTorn.fetch_add(1);
    }
    (void)VYR_GPSPARSER_GetLocation(&location);
    (void)VYR_GPSPARSER_GetGpsState();
}

void onEpoch(const GpsMsgPacket* record, void*) {
    if (!wholeRecord(*record)) {
        gTorn.fetch_add(1);
    }
    pullEverything();
    gEpochs.fetch_add(1);
}

void onSentence(const char*, uint32_t, void*) {
    if (gSentences.fetch_add(1) % 16 == 0) {
        pullEverything();
    }
}

void onEpochToo(const GpsMsgPacket*, void*) {}

TEST(Concurrency, ReaderAtFullSpeedAgainstRegistryAndPullThreads) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    const GpsCallbackReg data{VYR_GPS_CALLBACK(onEpoch), nullptr};
    const GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_Register(&data), 0u);
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea), 0u);
    Vyr_GPSPARSER_RegisterSimulater(endlessBursts);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);

    std::atomic<bool> done{false};
    std::atomic<int> copies{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {  // registry churn in the other slots
        int tag = 0;
        while (!done) {
            GpsCallbackReg extraData{VYR_GPS_CALLBACK(onEpochToo), &tag};
            GpsCallbackReg extraNmea{VYR_GPS_CALLBACK(onSentence), &tag};
            EXPECT_EQ(VYR_GPSPARSER_Register(&extraData), 0u);
            EXPECT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&extraNmea), 0u);
            EXPECT_EQ(VYR_GPSPARSER_UnRegister(&extraData), 0u);
            EXPECT_EQ(VYR_GPSPARSER_UnregNMEARecvCbk(&extraNmea), 0u);
        }
    });
    threads.emplace_back([&] {
        GpsMsgPacket record;
        while (!done) {
            if (VYR_GPSPARSER_GetData(&record) == 0) {
                copies.fetch_add(1);
                if (!wholeRecord(record)) {
                    gTorn.fetch_add(1);
                }
            }
        }
    });
    threads.emplace_back([&] {
        GpsRawData raw;
        GpsLocation location;
        while (!done) {
            if (VYR_GPSPARSER_ReadNmea(&raw) == 0) {
                copies.fetch_add(1);
                if (!wholeRawSet(raw)) {
                    gTorn.fetch_add(1);
                }
            }
            (void)VYR_GPSPARSER_GetLocation(&location);
        }
    });

    constexpr int kCycles = 40;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        const int before = gEpochs.load();
        EXPECT_TRUE(vyr::test::waitUntil([&] { return gEpochs.load() >= before + 3; }))
            << "cycle " << cycle;
        ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    }
    done = true;
    for (std::thread& t : threads) {
        t.join();
    }
    std::printf("%d epochs, %d sentences, %d copies\n", gEpochs.load(), gSentences.load(),
                copies.load());
    EXPECT_EQ(gTorn.load(), 0);
    EXPECT_GE(gEpochs.load(), 3 * kCycles);
    EXPECT_GT(copies.load(), 0);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0u);
}

}  // namespace
