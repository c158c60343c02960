// Serial GPS device over a real pseudo-terminal: open and release, line
// settings read back, every read path.
#include <termios.h>

#include <chrono>

#include "manager/gps_manager.h"
#include "support/pty_device.h"
#include "vyr_platform.h"

namespace {

// Release before open and a missing port touch nothing; then raw 9600 8N1
// read back, a second Init keeping the port, the read paths, and a failed
// release keeping the descriptor for the next try.
TEST(SerialDevice, OpenReadAndRelease) {
    unlink(VYR_TEST_DEVICE_PATH);
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_TRUE(VyrGpsDevInit() == -1 && vyr::mng::deviceFd() == -1);
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VyrGpsDevInit(), 0);
    const int fd = vyr::mng::deviceFd();
    termios got{}, want;
    ASSERT_EQ(tcgetattr(fd, &got), 0);  // the library's descriptor is the slave
    want = got;
    cfmakeraw(&want);  // no line discipline, CS8, no PARENB, VMIN 1, VTIME 0
    cfsetspeed(&want, B9600);
    want.c_cflag &= ~CSTOPB;
    EXPECT_EQ(std::memcmp(&want, &got, sizeof got), 0);
    EXPECT_TRUE(VyrGpsDevInit() == 0 && vyr::mng::deviceFd() == fd);

    ASSERT_TRUE(pty.write("Q"));
    GpsDevData request{2, 7, 'x'};
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_BAD_REQUEST);
    EXPECT_EQ(GpsGetRawData(nullptr, 500), VYR_GPS_E_DEV_BAD_REQUEST);
    request.len = 1;
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_OK);  // the byte is still on the line
    EXPECT_TRUE(request.readLen == 1 && request.data == 'Q');
    const auto start = std::chrono::steady_clock::now();  // 1200 ms: seconds and microseconds
    EXPECT_EQ(GpsGetRawData(&request, 1200), VYR_GPS_E_DEV_TIMEOUT);
    const auto waited = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
    EXPECT_TRUE(request.readLen == 0 && waited >= 1199 && waited <= 1500) << waited;

    VyrPlatform_SetUartDeInitResult(5);
    EXPECT_EQ(VyrGpsDevDeInit(), 5);
    VyrPlatform_SetUartDeInitResult(0);
    EXPECT_EQ(VyrGpsDevDeInit(), 0);
    EXPECT_TRUE(VyrPlatform_UartDeInitCalls() == 2 && VyrPlatform_UartDeInitLastFd() == fd);
    EXPECT_EQ(vyr::mng::deviceFd(), -1);
    EXPECT_EQ(GpsGetRawData(&request, 500), VYR_GPS_E_DEV_NOT_OPEN);
}

}  // namespace
