// The running reader under line faults, and how fast Stop is noticed.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/runtime_support.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"

namespace {

using Clock = std::chrono::steady_clock;
using vyr::test::mngState;

double stopMillis() {
    const auto start = Clock::now();
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::mutex gMutex;
std::vector<std::string> gSentences;

void onSentence(const char* sentence, uint32_t len, void*) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSentences.emplace_back(sentence, len);
}

class Faults : public testing::Test {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), nullptr};
        ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    }
    void TearDown() override {
        if (mngState() == MNG_GPS_STATE_START) {
            VYR_GPSPARSER_Stop();
        }
    }
    vyr::test::PtyDevice pty_;
};

// The silent reader waits in the 500 ms read; Stop is noticed at its end.
TEST_F(Faults, StopOnASilentLineWithinOneReadTimeout) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double waited = stopMillis();
    std::printf("Stop on a silent line took %.1f ms\n", waited);
    EXPECT_LE(waited, 500.0 + 400.0);
    EXPECT_EQ(mngState(), MNG_GPS_STATE_STOP);
}

// A hung-up terminal reads as end of file: the reader goes on (nothing is
// framed, nothing logged) and Stop still ends it at once.
TEST_F(Faults, HungUpLineKeepsTheReaderRunning) {
    ASSERT_TRUE(pty_.write("$GPZDA,1\r\n"));
    ASSERT_TRUE(vyr::test::waitUntil([] {
        std::lock_guard<std::mutex> lock(gMutex);
        return gSentences.size() == 1;
    }));
    std::string log = vyr::test::captureLog([&] {
        pty_.hangUp();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(mngState(), MNG_GPS_STATE_START);
        const double waited = stopMillis();
        EXPECT_LE(waited, 500.0 + 400.0);
    });
    EXPECT_EQ(vyr::test::countLevel(log, "ERR"), 0) << log;
    EXPECT_EQ(mngState(), MNG_GPS_STATE_STOP);
}

// A failing read: one "error" line and a pause of 1 s per failure, without
// end; Stop is noticed after the pause in progress.
TEST_F(Faults, InputFailureLogsErrorPausesAndGoesOn) {
    const int directory = open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory, 0);
    const std::string log = vyr::test::captureLog([&] {
        // The reader's select in progress still watches the line; from its
        // next pass on the descriptor reads as a directory and fails.
        ASSERT_EQ(dup2(directory, vyr::mng::deviceFd()), vyr::mng::deviceFd());
        std::this_thread::sleep_for(std::chrono::milliseconds(2800));
        EXPECT_EQ(mngState(), MNG_GPS_STATE_START);
        const double waited = stopMillis();
        EXPECT_LE(waited, 1000.0 + 500.0);
    });
    close(directory);
    // Failures at about 0.5, 1.5 and 2.5 s after the swap (the first one after
    // the wait in progress): 3 lines; 2 or 4 allow for slow hosts and timing.
    const int errors = vyr::test::countLines(log, "ERR", "MNG_GPS_MsgReadThread", "error\n");
    EXPECT_GE(errors, 2) << log;
    EXPECT_LE(errors, 4) << log;
    EXPECT_EQ(vyr::test::countLines(log, "ERR", "GpsGetRawData", "read data faild!\n"), errors);
    EXPECT_EQ(mngState(), MNG_GPS_STATE_STOP);
}

}  // namespace
