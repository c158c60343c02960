#include "receiver_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vyr_gpsparser.h"

namespace vyr::tool {

namespace {

std::optional<speed_t> speedCode(int bps) {
    switch (bps) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return std::nullopt;
    }
}

int openRetrying(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

bool isSupportedBaud(int bps) {
    return speedCode(bps).has_value();
}

std::optional<ReceiverPort::Failure> ReceiverPort::open(const std::string& path) {
    close();
    const auto fail = [&](Failure failure, std::string text) {
        failureText_ = std::move(text);
        return failure;
    };
    const int fd = openRetrying(path.c_str());
    if (fd < 0) {
        const int error = errno;
        switch (error) {
            case ENOENT:
                return fail(Failure::Missing,
                            "cannot open the GPS device " + path +
                                ": it does not exist (is the receiver plugged in?)");
            case EACCES:
            case EPERM:
                return fail(Failure::PermissionDenied,
                            "cannot open the GPS device " + path +
                                ": permission denied (the user needs read and write access to it, "
                                "usually through the group that owns it, such as dialout)");
            case EBUSY:
                return fail(Failure::InUse,
                            "the GPS device " + path + " is in use by another program");
            case EISDIR:
                return fail(Failure::NotATerminal,
                            "cannot use " + path + " as the GPS device: it is not a terminal");
            default:
                return fail(Failure::Other,
                            "cannot open the GPS device " + path + ": " + std::strerror(error));
        }
    }
    if (!isatty(fd)) {
        ::close(fd);
        return fail(Failure::NotATerminal,
                    "cannot use " + path + " as the GPS device: it is not a terminal");
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return fail(Failure::InUse, "the GPS device " + path + " is in use by another program");
    }
    ioctl(fd, TIOCEXCL);  // best effort: root is not refused by it anyway
    fd_ = fd;
    failureText_.clear();
    return std::nullopt;
}

void ReceiverPort::close() {
    if (fd_ < 0) {
        return;
    }
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the lock
    fd_ = -1;
}

bool ReceiverPort::setSpeed(int bps) {
    const auto code = speedCode(bps);
    termios attributes{};
    if (!code || tcgetattr(fd_, &attributes) != 0) {
        return false;
    }
    cfmakeraw(&attributes);
    attributes.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CRTSCTS);
    attributes.c_cflag |= CS8 | CLOCAL | CREAD;
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    cfsetispeed(&attributes, *code);
    cfsetospeed(&attributes, *code);
    // Dropped first, then the speed set: bytes that arrive at the new speed
    // are kept even when the receiver starts sending at once.
    tcflush(fd_, TCIFLUSH);
    return tcsetattr(fd_, TCSANOW, &attributes) == 0;
}

void SentenceProbe::feed(std::string_view bytes) {
    for (const char c : bytes) {
        const size_t at = bytes_.size();
        bytes_ += c;
        if (c == '$') {
            sentenceStart_ = at;
        } else if (sentenceStart_ != std::string::npos && (c == '\r' || c == '\n')) {
            const char* sentence = bytes_.data() + sentenceStart_;
            const auto length = static_cast<uint32_t>(at - sentenceStart_);
            if (VYR_GPS_NmeaChecksum(sentence, length) == VYR_GPS_CHECKSUM_OK) {
                firstGood_ = firstGood_ == std::string::npos ? sentenceStart_ : firstGood_;
                ++good_;
            }
            sentenceStart_ = std::string::npos;
        } else if (sentenceStart_ != std::string::npos &&
                   at - sentenceStart_ >= VYR_GPS_SENTENCE_SIZE) {
            sentenceStart_ = std::string::npos;
        }
    }
    // Until a good sentence shows up only the one being framed is worth keeping.
    if (firstGood_ == std::string::npos) {
        const size_t keep = sentenceStart_ == std::string::npos ? bytes_.size() : sentenceStart_;
        bytes_.erase(0, keep);
        sentenceStart_ = sentenceStart_ == std::string::npos ? sentenceStart_ : 0;
    }
}

std::string SentenceProbe::fromFirstGood() const {
    return firstGood_ == std::string::npos ? std::string() : bytes_.substr(firstGood_);
}

}  // namespace vyr::tool
