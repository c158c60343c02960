// Serial GPS device over a real pseudo-terminal: line settings, the read
// paths with their codes and waits, open and release.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "manager/gps_manager.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

using vyr::test::captureLog;
using vyr::test::countLines;
using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class SerialDevice : public testing::Test {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        ASSERT_EQ(VyrGpsDevInit(), 0);
        fd_ = vyr::mng::deviceFd();
        ASSERT_GE(fd_, 0);
    }

    vyr::test::PtyDevice pty_;
    int fd_ = -1;
};

TEST_F(SerialDevice, AppliesRaw9600EightNoParityOneStop) {
    termios t{};
    ASSERT_TRUE(pty_.slaveAttributes(t));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(
        t.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialDevice, ReadsOneByteAlsoForLengthZero) {
    ASSERT_TRUE(pty_.write("\r\n"));  // raw: neither byte is translated
    for (const uint32_t len : {1u, 0u}) {
        GpsDevData request{len, 9, 0};
        ASSERT_EQ(GpsGetRawData(&request, 500), VYR_GPS_OK) << "len " << len;
        EXPECT_EQ(request.readLen, 1u);
        EXPECT_EQ(request.data, len == 1 ? '\r' : '\n');
    }
}

// The wait splits into seconds and microseconds; a wrong split either waits
// for the wrong time or is refused by select (an input failure).
TEST_F(SerialDevice, SilentLineTimesOutAfterTheRequestedWait) {
    for (const int32_t timeoutMs : {250, 1200}) {
        GpsDevData request{1, 7, 0};
        const auto start = Clock::now();
        EXPECT_EQ(GpsGetRawData(&request, timeoutMs), VYR_GPS_E_DEV_TIMEOUT);
        const double waited = millisSince(start);
        EXPECT_EQ(request.readLen, 0u);
        EXPECT_GE(waited, timeoutMs - 1.0);
        EXPECT_LE(waited, timeoutMs + 300.0);
        std::printf("timeout %d ms waited %.1f ms\n", timeoutMs, waited);
    }
}

void onSignal(int) {}

// Sends SIGUSR1 to the calling thread after the delay.
std::thread signalLater(std::chrono::milliseconds delay) {
    const pthread_t self = pthread_self();
    return std::thread([self, delay] {
        std::this_thread::sleep_for(delay);
        pthread_kill(self, SIGUSR1);
    });
}

// Whether select interrupted by a signal reports the time not yet waited, as
// Linux does (qemu-user does not).
bool selectReportsTimeLeft() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return false;
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(pipeFds[0], &readSet);
    timeval timeout{0, 300000};
    std::thread signaller = signalLater(std::chrono::milliseconds(50));
    const int ready = select(pipeFds[0] + 1, &readSet, nullptr, nullptr, &timeout);
    signaller.join();
    close(pipeFds[0]);
    close(pipeFds[1]);
    return ready < 0 && errno == EINTR && timeout.tv_usec < 300000;
}

// A signal during the wait neither ends it early nor restarts it in full.
TEST_F(SerialDevice, SignalDuringTheWaitKeepsTheTotalWait) {
    struct sigaction action {};
    action.sa_handler = onSignal;  // no SA_RESTART: select fails with EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
    if (!selectReportsTimeLeft()) {
        GTEST_SKIP() << "select here does not report the time left after a signal (qemu-user "
                        "emulation); a retried wait restarts in full";
    }
    std::thread signaller = signalLater(std::chrono::milliseconds(150));
    GpsDevData request{1, 7, 0};
    const auto start = Clock::now();
    const uint32_t result = GpsGetRawData(&request, 400);
    const double waited = millisSince(start);
    signaller.join();
    EXPECT_EQ(result, VYR_GPS_E_DEV_TIMEOUT);
    EXPECT_GE(waited, 399.0);
    EXPECT_LE(waited, 400.0 + 140.0);  // a full restart would wait 550 ms
}

// Closing the master hangs the slave up: Linux then reports the line readable
// with end of file, a success with nothing read, without waiting.
TEST_F(SerialDevice, HungUpLineReadsEndOfFileAtOnce) {
    pty_.hangUp();
    GpsDevData request{1, 7, 0};
    const auto start = Clock::now();
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_OK);
    EXPECT_LT(millisSince(start), 250.0);
    EXPECT_EQ(request.readLen, 0u);
}

// read failing (a directory behind the descriptor) is an input failure and
// clears readLen; select failing (a descriptor not open) leaves it alone.
TEST_F(SerialDevice, ReadAndSelectFailuresAreInputFailures) {
    VyrPlatform_SetPrintLevel(4);
    const int directory = open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory, 0);
    ASSERT_EQ(dup2(directory, fd_), fd_);
    close(directory);
    GpsDevData request{1, 7, 0};
    std::string log =
        captureLog([&] { EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_INPUT); });
    EXPECT_EQ(countLines(log, "ERR", "GpsGetRawData", "read data faild!\n"), 1) << log;
    EXPECT_EQ(request.readLen, 0u);

    // Closed, but inside the descriptor table: Linux select ignores bits
    // beyond the table instead of failing.
    const int notOpen = 200;
    ASSERT_EQ(dup2(fd_, notOpen), notOpen);
    close(notOpen);
    vyr::mng::setDeviceFd(notOpen);
    request.readLen = 7;
    log = captureLog([&] { EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_INPUT); });
    vyr::mng::setDeviceFd(fd_);
    EXPECT_EQ(countLines(log, "DBG", "GpsGetRawData", "select failed!\n"), 1) << log;
    EXPECT_EQ(request.readLen, 7u);
}

TEST_F(SerialDevice, BadRequestsLeaveThePortAndTheRecordAlone) {
    VyrPlatform_SetPrintLevel(4);
    ASSERT_TRUE(pty_.write("Q"));
    GpsDevData request{2, 7, 'x'};
    std::string log =
        captureLog([&] { EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_BAD_REQUEST); });
    EXPECT_EQ(
        countLines(log, "ERR", "GpsGetRawData", "Too much data acquired at one time len:2!\n"), 1)
        << log;
    EXPECT_EQ(request.readLen, 7u);
    EXPECT_EQ(request.data, 'x');

    log = captureLog([] { EXPECT_EQ(GpsGetRawData(nullptr, 500), VYR_GPS_E_DEV_BAD_REQUEST); });
    EXPECT_EQ(countLines(log, "DBG", "GpsGetRawData", "gpsData is NULL pointer!\n"), 1) << log;

    request.len = 1;
    ASSERT_EQ(GpsGetRawData(&request, 500), VYR_GPS_OK);  // the byte is still there
    EXPECT_EQ(request.data, 'Q');
}

TEST_F(SerialDevice, ClosedDeviceIsRefusedSilently) {
    ASSERT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
    GpsDevData request{1, 7, 0};
    VyrPlatform_SetPrintLevel(4);
    const std::string log =
        captureLog([&] { EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_NOT_OPEN); });
    EXPECT_EQ(log, "");
    EXPECT_EQ(request.readLen, 7u);
}

TEST_F(SerialDevice, SecondInitKeepsThePortAsItIs) {
    termios changed{};
    ASSERT_EQ(tcgetattr(fd_, &changed), 0);
    cfsetispeed(&changed, B4800);
    cfsetospeed(&changed, B4800);
    ASSERT_EQ(tcsetattr(fd_, TCSANOW, &changed), 0);

    VyrPlatform_SetPrintLevel(3);
    const std::string log = captureLog([] { EXPECT_EQ(VyrGpsDevInit(), 0); });
    EXPECT_EQ(countLines(log, "INF", "VyrGpsDevInit", "GPS already init\n"), 1) << log;
    EXPECT_EQ(vyr::mng::deviceFd(), fd_);
    termios now{};
    ASSERT_TRUE(pty_.slaveAttributes(now));
    EXPECT_EQ(cfgetispeed(&now), static_cast<speed_t>(B4800));
}

TEST_F(SerialDevice, FailedReleaseKeepsTheDescriptorForTheNextTry) {
    VyrPlatform_SetUartDeInitResult(5);
    const std::string log = captureLog([] { EXPECT_EQ(VyrGpsDevDeInit(), 5); });
    EXPECT_EQ(countLines(log, "ERR", "VyrGpsDevDeInit", "uart Deinit failed\n"), 1) << log;
    EXPECT_EQ(vyr::mng::deviceFd(), fd_);

    VyrPlatform_SetUartDeInitResult(0);
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_EQ(VyrPlatform_UartDeInitCalls(), 2);
    EXPECT_EQ(VyrPlatform_UartDeInitLastFd(), fd_);
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
}

TEST(SerialDeviceClosed, MissingPortFailsToOpen) {
    unlink(VYR_TEST_DEVICE_PATH);
    const std::string log = captureLog([] { EXPECT_EQ(VyrGpsDevInit(), -1); });
    EXPECT_EQ(countLines(log, "ERR", "VyrGpsDevInit", "uart init failed\n"), 1) << log;
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
    GpsDevData request{1, 0, 0};
    EXPECT_EQ(GpsGetRawData(&request, 10), VYR_GPS_E_DEV_NOT_OPEN);
}

TEST(SerialDeviceClosed, ReleaseBeforeOpenDoesNotCallThePlatform) {
    VyrPlatform_SetPrintLevel(3);
    const std::string log = captureLog([] { EXPECT_EQ(VyrGpsDevDeInit(), 0); });
    EXPECT_EQ(
        countLines(log, "INF", "VyrGpsDevDeInit", "Device has already deinit or Uninitialized!\n"),
        1)
        << log;
    EXPECT_EQ(VyrPlatform_UartDeInitCalls(), 0);
}

TEST(SerialDeviceClosed, OpenSuccessIsLoggedWithThePathAtDebugLevel) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    VyrPlatform_SetPrintLevel(4);
    const std::string log = captureLog([] { EXPECT_EQ(VyrGpsDevInit(), 0); });
    EXPECT_EQ(countLines(log, "DBG", "VyrGpsDevInit",
                         "open " + std::string(VYR_TEST_DEVICE_PATH) + " success\n"),
              1)
        << log;
}

// With every descriptor below FD_SETSIZE taken the port could never be
// watched by select: the open is refused and the descriptor not kept.
TEST(SerialDeviceClosed, DescriptorBeyondTheSelectLimitIsRefused) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < FD_SETSIZE + 16) {
        GTEST_SKIP() << "descriptor limit " << limit.rlim_max << " too low to pass FD_SETSIZE";
    }
    limit.rlim_cur = FD_SETSIZE + 16;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    const int spare = open("/dev/null", O_RDONLY);
    ASSERT_GE(spare, 0);
    std::vector<int> filled;
    for (int fd = 0; fd < FD_SETSIZE; ++fd) {
        if (fcntl(fd, F_GETFD) < 0) {
            ASSERT_EQ(dup2(spare, fd), fd);
            filled.push_back(fd);
        }
    }
    const int32_t result = VyrGpsDevInit();
    const int32_t kept = vyr::mng::deviceFd();
    const int next = open("/dev/null", O_RDONLY);  // the refused one was closed
    for (const int fd : filled) {
        close(fd);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(kept, -1);
    EXPECT_EQ(next, FD_SETSIZE);
    close(next);
    close(spare);
}

}  // namespace
