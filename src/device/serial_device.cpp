// Serial GPS device: opening, configuring, holding and releasing the port.
// Blocking descriptor (O_RDWR only), watched with select so that a silent line
// returns control to the reader within its timeout (line_input.cpp).
#include "device/serial_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/log.h"
#include "common/result_codes.h"
#include "manager/gps_manager.h"

#ifndef VYR_GPS_DEVICE_FORMAT
#error "VYR_GPS_DEVICE_FORMAT (printf format of the serial device path) must be defined"
#endif
#ifndef VYR_GPS_DEVICE_PORT
#error "VYR_GPS_DEVICE_PORT (serial port number) must be defined"
#endif

namespace vyr::dev {

namespace {

inline constexpr int32_t kClosed = -1;
inline constexpr std::size_t kPathSize = 64;
inline constexpr int kDevicePort = VYR_GPS_DEVICE_PORT;

// select() can only watch descriptors below FD_SETSIZE; FD_SET beyond it
// writes past the set.
[[nodiscard]] constexpr bool fitsFdSet(int fd) noexcept {
    return fd >= 0 && fd < FD_SETSIZE;
}

[[nodiscard]] int openRetrying(const char* path) noexcept {
    int fd;
    do {
        fd = open(path, O_RDWR);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Exclusive use of the port, so that two programs never read alternate bytes
// of one line: an advisory lock that every program linking this library
// takes, and the terminal's exclusive mode, which makes any further open fail
// with EBUSY (except for a privileged process, which the lock stops). false
// when another opener holds the lock; the holder's line is not touched then.
// Other lock failures (no lock support) and a descriptor that is not a
// terminal (a regular file) do not refuse the port.
// A lock that does not wait is never interrupted by a signal.
[[nodiscard]] bool holdExclusively(int fd) noexcept {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return false;
    }
    ioctl(fd, TIOCEXCL);
    return true;
}

// Raw 9600 8N1, a read returns as soon as one byte is there. The results of
// the attribute calls are not reported: once open, the device counts as open.
void configureLine(int fd) noexcept {
    termios attributes{};
    while (tcgetattr(fd, &attributes) != 0 && errno == EINTR) {
    }
    cfmakeraw(&attributes);
    cfsetispeed(&attributes, B9600);
    cfsetospeed(&attributes, B9600);
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB);
    attributes.c_cflag |= CS8;
    attributes.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    tcflush(fd, TCIOFLUSH);
    while (tcsetattr(fd, TCSANOW, &attributes) != 0 && errno == EINTR) {
    }
}

}  // namespace

int32_t VyrGpsDevInit() noexcept {
    if (mng::deviceFd() != kClosed) {
        VYR_LOG_INF("GPS already init\n");
        return 0;
    }
    char path[kPathSize];
    std::memset(path, 0, sizeof path);
    std::snprintf(path, sizeof path, VYR_GPS_DEVICE_FORMAT, kDevicePort);

    int fd = openRetrying(path);
    // Refused like a failed open: every descriptor below FD_SETSIZE is taken,
    // so the port could never be watched, or another opener holds it. The
    // descriptor was never handed to the platform, so closing it here is the
    // library's own business.
    if (fd >= 0 && (!fitsFdSet(fd) || !holdExclusively(fd))) {
        close(fd);
        fd = kClosed;
    }
    mng::setDeviceFd(fd < 0 ? kClosed : fd);
    if (fd < 0) {
        VYR_LOG_ERR("uart init failed\n");
        return -1;
    }
    dropBufferedInput();
    configureLine(fd);
    VYR_LOG_DBG("open %s success\n", path);
    return 0;
}

int32_t VyrGpsDevDeInit() noexcept {
    const int32_t fd = mng::deviceFd();
    if (fd == kClosed) {
        VYR_LOG_INF("Device has already deinit or Uninitialized!\n");
        return 0;
    }
    // Exclusive mode belongs to the terminal, not to the descriptor: another
    // descriptor still open on it (a watcher, a child that inherited this one)
    // would keep it after the close. The lock goes with the close.
    ioctl(fd, TIOCNXCL);
    // 0: the platform has released (closed) the descriptor; otherwise it is
    // still open, still held, and a later call tries again with the same one.
    const int32_t result = VYR_UART_DeInit(fd);
    if (result != 0) {
        ioctl(fd, TIOCEXCL);
        VYR_LOG_ERR("uart Deinit failed\n");
        return result;
    }
    dropBufferedInput();
    mng::setDeviceFd(kClosed);
    return 0;
}

}  // namespace vyr::dev

extern "C" {

int32_t VyrGpsDevInit(void) {
    return vyr::dev::VyrGpsDevInit();
}

int32_t VyrGpsDevDeInit(void) {
    return vyr::dev::VyrGpsDevDeInit();
}

}  // extern "C"
