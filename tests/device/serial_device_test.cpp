// Serial GPS device over a real pseudo-terminal: line settings, read paths,
// open and release.
#include <termios.h>

#include <chrono>

#include "manager/gps_manager.h"
#include "support/pty_device.h"
#include "vyr_platform.h"

namespace {

using namespace std::chrono_literals;

class SerialDevice : public testing::Test {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        ASSERT_EQ(VyrGpsDevInit(), 0);
        fd_ = vyr::mng::deviceFd();
    }
    vyr::test::PtyDevice pty_;
    int fd_ = -1;
};

TEST_F(SerialDevice, AppliesRaw9600EightNoParityOneStop) {
    termios t{};
    ASSERT_EQ(tcgetattr(fd_, &t), 0);  // the library's descriptor is the slave
    termios raw = t;
    cfmakeraw(&raw);  // no line discipline, CS8, no PARENB, VMIN 1, VTIME 0
    EXPECT_EQ(std::memcmp(&raw, &t, sizeof t), 0);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(cfgetispeed(&t), speed_t{B9600});
    EXPECT_EQ(cfgetospeed(&t), speed_t{B9600});
}

TEST_F(SerialDevice, ReadPaths) {
    ASSERT_TRUE(pty_.write("Q"));
    GpsDevData request{2, 7, 'x'};
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_BAD_REQUEST);
    EXPECT_EQ(GpsGetRawData(nullptr, 500), VYR_GPS_E_DEV_BAD_REQUEST);
    request.len = 1;
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_OK);  // the byte is still on the line
    EXPECT_EQ(request.readLen, 1u);
    EXPECT_EQ(request.data, 'Q');

    const auto start = std::chrono::steady_clock::now();  // 1200 ms: seconds and microseconds
    EXPECT_EQ(GpsGetRawData(&request, 1200), VYR_GPS_E_DEV_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(request.readLen, 0u);
    EXPECT_TRUE(waited >= 1199ms && waited <= 1500ms) << (waited / 1ms);

    ASSERT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_NOT_OPEN);
}

// A second Init keeps the open port; a failed release keeps the descriptor
// for the next try.
TEST_F(SerialDevice, ReopenAndFailedReleaseKeepTheDescriptor) {
    EXPECT_EQ(VyrGpsDevInit(), 0);
    EXPECT_EQ(vyr::mng::deviceFd(), fd_);
    VyrPlatform_SetUartDeInitResult(5);
    EXPECT_EQ(VyrGpsDevDeInit(), 5);
    VyrPlatform_SetUartDeInitResult(0);
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_EQ(VyrPlatform_UartDeInitCalls(), 2);
    EXPECT_EQ(VyrPlatform_UartDeInitLastFd(), fd_);
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
}

TEST(SerialDeviceClosed, ReleaseBeforeOpenAndAMissingPort) {
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_EQ(VyrPlatform_UartDeInitCalls(), 0);
    unlink(VYR_TEST_DEVICE_PATH);
    EXPECT_EQ(VyrGpsDevInit(), -1);
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
}

}  // namespace
