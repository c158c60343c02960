// Reading the serial line: one select and one read per run of bytes, the run
// kept in a static buffer until the reader (or a one-byte request) has taken
// it. Errors and end of file are seen only by a read, and a read is made only
// once the buffer is empty, so they are reported after every byte before them.
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>

#include "common/log.h"
#include "common/result_codes.h"
#include "device/serial_device.h"
#include "manager/gps_manager.h"

namespace vyr::dev {

constinit LineInput gLineInput{};

namespace {

inline constexpr int32_t kClosed = -1;

// select() can only watch descriptors below FD_SETSIZE; FD_SET beyond it
// writes past the set.
[[nodiscard]] constexpr bool fitsFdSet(int fd) noexcept {
    return fd >= 0 && fd < FD_SETSIZE;
}

// Waits up to timeoutMs for the line, then reads every byte waiting (up to the
// buffer) into the empty buffer; end of file leaves it empty. readLen is set
// to 0 where a one-byte request's is: on a timeout and a failed read.
uint32_t readLine(int fd, int32_t timeoutMs, uint32_t& readLen) noexcept {
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
        VYR_LOG_DBG_IN("GpsGetRawData", "select failed!\n");
        return VYR_GPS_E_DEV_INPUT;
    }
    readLen = 0;
    if (ready == 0) {
        return VYR_GPS_E_DEV_TIMEOUT;
    }
    // A count of 0 is end of file on the line (a hung-up terminal).
    ssize_t count;
    do {
        count = read(fd, gLineInput.bytes, sizeof gLineInput.bytes);
    } while (count < 0 && errno == EINTR);
    if (count >= 0) {
        gLineInput.begin = 0;
        gLineInput.end = static_cast<uint16_t>(count);
        return kOk;
    }
    if (errno == EAGAIN) {
        VYR_LOG_INF_IN("GpsGetRawData", "No data readable!\n");
        return VYR_GPS_E_DEV_AGAIN;
    }
    VYR_LOG_ERR_IN("GpsGetRawData", "read data faild!\n");
    return VYR_GPS_E_DEV_INPUT;
}

}  // namespace

uint32_t readRun(int32_t timeoutMs, uint32_t& readLen) noexcept {
    const int fd = mng::deviceFd();
    if (fd == kClosed) {
        return VYR_GPS_E_DEV_NOT_OPEN;
    }
    return gLineInput.begin < gLineInput.end ? kOk : readLine(fd, timeoutMs, readLen);
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
    // One byte whatever len (0 or 1) asks for: a buffered one at once, else
    // the first of what the line gives. End of file is a success with nothing.
    const uint32_t result = readRun(timeoutMs, gpsData->readLen);
    if (result == kOk && gLineInput.begin < gLineInput.end) {
        gpsData->data = gLineInput.bytes[gLineInput.begin++];
        gpsData->readLen = 1;
    }
    return result;
}

}  // namespace vyr::dev

extern "C" uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs) {
    return vyr::dev::GpsGetRawData(gpsData, timeoutMs);
}
