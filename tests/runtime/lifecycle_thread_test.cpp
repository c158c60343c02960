// Start and Stop with the thread calls failing. Linked with
// -Wl,--wrap=pthread_create -Wl,--wrap=pthread_join, so the library's own
// calls come here first.
#include <pthread.h>

#include <atomic>
#include <cerrno>

#include "runtime/runtime_support.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"

extern "C" int __real_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
extern "C" int __real_pthread_join(pthread_t, void**);

namespace {
std::atomic<int> gCreateCalls{0};
std::atomic<int> gJoinCalls{0};
std::atomic<bool> gFailCreate{false};
std::atomic<bool> gFailJoin{false};
}  // namespace

extern "C" int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                     void* (*entry)(void*), void* arg) {
    gCreateCalls.fetch_add(1);
    return gFailCreate ? EAGAIN : __real_pthread_create(thread, attr, entry, arg);
}

extern "C" int __wrap_pthread_join(pthread_t thread, void** result) {
    gJoinCalls.fetch_add(1);
    return gFailJoin ? ESRCH : __real_pthread_join(thread, result);
}

namespace {

using vyr::test::captureLog;
using vyr::test::countLines;
using vyr::test::mngState;

class ThreadFailure : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    }
    void TearDown() override {
        gFailJoin = false;
        if (mngState() == MNG_GPS_STATE_START) {
            VYR_GPSPARSER_Stop();
        }
    }
    vyr::test::PtyDevice pty_;
};

// Parameter: start from the stopped state (3) instead of the initialised one.
TEST_P(ThreadFailure, StartFailsAndCanBeRetried) {
    if (GetParam()) {
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    }
    const uint32_t before = mngState();
    gFailCreate = true;
    const std::string log =
        captureLog([] { EXPECT_EQ(VYR_GPSPARSER_Start(), VYR_GPS_E_THREAD_CREATE); });
    gFailCreate = false;
    EXPECT_EQ(countLines(log, "ERR", "VYR_GPSPARSER_Start", "create MsgReadThread failed\n"), 1)
        << log;
    EXPECT_EQ(mngState(), before);
    EXPECT_EQ(VYR_GPSPARSER_Start(), 0u);
    EXPECT_EQ(mngState(), MNG_GPS_STATE_START);
}

INSTANTIATE_TEST_SUITE_P(FromInitOrStop, ThreadFailure, testing::Bool());

TEST(ThreadCalls, StartTwiceCreatesOneThreadAndStopWithoutOneJoinsNothing) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    EXPECT_EQ(VYR_GPSPARSER_Stop(), VYR_GPS_E_STOP_JOIN);
    EXPECT_EQ(gJoinCalls.load(), 0);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    EXPECT_EQ(gCreateCalls.load(), 1);
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    EXPECT_EQ(gJoinCalls.load(), 1);
}

TEST(ThreadCalls, FailedJoinKeepsTheManagerStartedUntilAJoinSucceeds) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    gFailJoin = true;
    const std::string log =
        captureLog([] { EXPECT_EQ(VYR_GPSPARSER_Stop(), VYR_GPS_E_STOP_JOIN); });
    gFailJoin = false;
    EXPECT_EQ(countLines(log, "ERR", "VYR_GPSPARSER_Stop", "join MsgReadThread failed\n"), 1)
        << log;
    EXPECT_EQ(mngState(), MNG_GPS_STATE_START);
    EXPECT_EQ(vyr::mng::manager().runFlag.load(), 0u);
    EXPECT_EQ(VYR_GPSPARSER_Start(), 0u);  // "already start": no new thread
    EXPECT_EQ(gCreateCalls.load(), 1);
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0xFFFFFFFFu);
    EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
    EXPECT_EQ(mngState(), MNG_GPS_STATE_STOP);
}

}  // namespace
