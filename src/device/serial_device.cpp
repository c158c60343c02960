// Serial GPS device. Blocking descriptor (O_RDWR only), watched with select so
// that a silent line returns control to the reader within its timeout.
#include "device/serial_device.h"

#include <fcntl.h>
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
    if (fd >= 0 && !fitsFdSet(fd)) {
        // Every descriptor below FD_SETSIZE is taken: the port could never be
        // watched. Refuse it like a failed open; it was never handed to the
        // platform, so closing it here is the library's own business.
        close(fd);
        fd = kClosed;
    }
    mng::setDeviceFd(fd < 0 ? kClosed : fd);
    if (fd < 0) {
        VYR_LOG_ERR("uart init failed\n");
        return -1;
    }
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
    // 0: the platform has released (closed) the descriptor; otherwise it is
    // still open and a later call tries again with the same one.
    const int32_t result = VYR_UART_DeInit(fd);
    if (result != 0) {
        VYR_LOG_ERR("uart Deinit failed\n");
        return result;
    }
    mng::setDeviceFd(kClosed);
    return 0;
}

uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs) noexcept {
    if (gpsData == nullptr) {
        VYR_LOG_DBG("gpsData is NULL pointer!\n");
        return VYR_GPS_E_DEV_BAD_REQUEST;
    }
    if (gpsData->len > 1) {
        VYR_LOG_ERR("Too much data acquired at one time len:%d!\n", static_cast<int>(gpsData->len));
        return VYR_GPS_E_DEV_BAD_REQUEST;
    }
    const int fd = mng::deviceFd();
    if (fd == kClosed) {
        return VYR_GPS_E_DEV_NOT_OPEN;
    }

    int ready;
    if (fitsFdSet(fd)) {
        // Truncating division: 1500 ms waits 1 s and 500000 us.
        timeval timeout{};
        timeout.tv_sec = timeoutMs / 1000;
        timeout.tv_usec = (timeoutMs % 1000) * 1000;
        // Linux leaves the time not yet waited in timeout, so a retry after a
        // signal keeps the whole wait within timeoutMs.
        do {
            fd_set readSet;
            FD_ZERO(&readSet);
            FD_SET(fd, &readSet);
            ready = select(fd + 1, &readSet, nullptr, nullptr, &timeout);
        } while (ready < 0 && errno == EINTR);
    } else {
        ready = -1;
        errno = EBADF;
    }
    if (ready < 0) {
        if (errno == EAGAIN) {
            return VYR_GPS_E_DEV_AGAIN;
        }
        VYR_LOG_DBG("select failed!\n");
        return VYR_GPS_E_DEV_INPUT;
    }
    if (ready == 0) {
        gpsData->readLen = 0;
        return VYR_GPS_E_DEV_TIMEOUT;
    }

    // One byte whatever len (0 or 1) asks for. A count of 0 is end of file on
    // the line (a hung-up terminal): a success with nothing read.
    ssize_t count;
    do {
        count = read(fd, &gpsData->data, 1);
    } while (count < 0 && errno == EINTR);
    if (count >= 0) {
        gpsData->readLen = static_cast<uint32_t>(count);
        return kOk;
    }
    gpsData->readLen = 0;
    if (errno == EAGAIN) {
        VYR_LOG_INF("No data readable!\n");
        return VYR_GPS_E_DEV_AGAIN;
    }
    VYR_LOG_ERR("read data faild!\n");
    return VYR_GPS_E_DEV_INPUT;
}

}  // namespace vyr::dev

extern "C" {

int32_t VyrGpsDevInit(void) {
    return vyr::dev::VyrGpsDevInit();
}

int32_t VyrGpsDevDeInit(void) {
    return vyr::dev::VyrGpsDevDeInit();
}

uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs) {
    return vyr::dev::GpsGetRawData(gpsData, timeoutMs);
}

}  // extern "C"
