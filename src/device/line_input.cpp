// Reading the serial line: one select and one read per run of bytes, the run
// kept in a static buffer until the reader (or a one-byte request) has taken
// it. Errors and end of file are seen only by a read, and a read is made only
// once the buffer is empty, so they are reported after every byte before them.
#include <sys/select.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "common/log.h"
#include "common/result_codes.h"
#include "device/serial_device.h"
#include "manager/gps_manager.h"

namespace vyr::dev {

namespace {

inline constexpr int32_t kClosed = -1;
// The log lines of a read carry the one-byte read's name, whichever entry made it.
inline constexpr char kReadOperation[] = "GpsGetRawData";

// Bytes read from the open descriptor and not yet handed on: [begin, end).
struct LineInput {
    std::array<uint8_t, kReadBufferSize> bytes;
    uint16_t begin;
    uint16_t end;
};
static_assert(kReadBufferSize <= UINT16_MAX, "run positions are 16-bit");
constinit LineInput gInput{};

[[nodiscard]] bool buffered() noexcept {
    return gInput.begin < gInput.end;
}

// select() can only watch descriptors below FD_SETSIZE; FD_SET beyond it
// writes past the set.
[[nodiscard]] constexpr bool fitsFdSet(int fd) noexcept {
    return fd >= 0 && fd < FD_SETSIZE;
}

struct LineRead {
    uint32_t result;  // kOk or a VYR_GPS_E_DEV_* code
    bool answered;    // select returned: a one-byte request's readLen is written
};

// Waits up to timeoutMs for the line, then reads every byte waiting (up to the
// buffer) into the empty buffer; end of file leaves it empty.
LineRead readLine(int fd, int32_t timeoutMs) noexcept {
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
            return {VYR_GPS_E_DEV_AGAIN, false};
        }
        VYR_LOG_DBG_IN(kReadOperation, "select failed!\n");
        return {VYR_GPS_E_DEV_INPUT, false};
    }
    if (ready == 0) {
        return {VYR_GPS_E_DEV_TIMEOUT, true};
    }
    // A count of 0 is end of file on the line (a hung-up terminal).
    ssize_t count;
    do {
        count = read(fd, gInput.bytes.data(), gInput.bytes.size());
    } while (count < 0 && errno == EINTR);
    if (count >= 0) {
        gInput.begin = 0;
        gInput.end = static_cast<uint16_t>(count);
        return {kOk, true};
    }
    if (errno == EAGAIN) {
        VYR_LOG_INF_IN(kReadOperation, "No data readable!\n");
        return {VYR_GPS_E_DEV_AGAIN, true};
    }
    VYR_LOG_ERR_IN(kReadOperation, "read data faild!\n");
    return {VYR_GPS_E_DEV_INPUT, true};
}

}  // namespace

uint32_t readRun(int32_t timeoutMs, std::span<const uint8_t>& run) noexcept {
    const int fd = mng::deviceFd();
    if (fd == kClosed) {
        return VYR_GPS_E_DEV_NOT_OPEN;
    }
    if (!buffered()) {
        const LineRead line = readLine(fd, timeoutMs);
        if (line.result != kOk) {
            return line.result;
        }
    }
    run = std::span<const uint8_t>(gInput.bytes.data() + gInput.begin,
                                   static_cast<size_t>(gInput.end - gInput.begin));
    return kOk;
}

void takeFromRun(size_t count) noexcept {
    gInput.begin = static_cast<uint16_t>(gInput.begin + count);
}

void dropBufferedInput() noexcept {
    gInput.begin = 0;
    gInput.end = 0;
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
    // One byte whatever len (0 or 1) asks for: a buffered one at once, else
    // the first of what the line gives. End of file is a success with nothing.
    if (!buffered()) {
        const LineRead line = readLine(fd, timeoutMs);
        if (line.answered) {
            gpsData->readLen = 0;
        }
        if (line.result != kOk || !buffered()) {
            return line.result;
        }
    }
    gpsData->data = gInput.bytes[gInput.begin++];
    gpsData->readLen = 1;
    return kOk;
}

}  // namespace vyr::dev

extern "C" uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs) {
    return vyr::dev::GpsGetRawData(gpsData, timeoutMs);
}
