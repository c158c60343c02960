#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vyr::tool {

namespace {

std::string errorText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool isStaleLink(const std::string& path) {
    char target[256] = {};
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0 ||
        std::string(target, static_cast<size_t>(length)).rfind("/dev/pts/", 0) != 0) {
        return false;
    }
    struct stat info {};
    return lstat(target, &info) != 0 && errno == ENOENT;
}

PtyLine::PtyLine(const std::string& devicePath) : devicePath_(devicePath) {
    if (devicePath_.rfind("/dev/", 0) == 0) {
        throw ToolError("this build's device path is " + devicePath_ +
                        ", a real serial port; replay needs a build whose device path lies "
                        "outside /dev (host presets use build/<preset>/ttyS1)");
    }
    if (isStaleLink(devicePath_)) {
        std::fprintf(stderr,
                     "vyr-gps: replacing %s, a link left by a run that ended without removing it\n",
                     devicePath_.c_str());
        unlink(devicePath_.c_str());
    }
    struct stat info {};
    if (lstat(devicePath_.c_str(), &info) == 0) {
        throw ToolError("device path " + devicePath_ +
                        " already exists and is not this tool's; remove it, or stop the "
                        "program that placed it there");
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        const std::string message = errorText("cannot create a pseudo-terminal");
        if (master_ >= 0) {
            close(master_);
        }
        throw ToolError(message);
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        const std::string message = errorText("cannot name the pseudo-terminal");
        close(master_);
        throw ToolError(message);
    }
    slaveName_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        const std::string message = errorText("cannot open " + slaveName_);
        close(master_);
        throw ToolError(message);
    }
    // Raw from the start: no echo back into the master, CR kept as CR. The
    // library sets the same when it opens the line.
    termios attributes{};
    if (tcgetattr(slave_, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(slave_, TCSANOW, &attributes);
    }
    // symlink fails if anything appeared at the path meanwhile.
    if (symlink(slaveName_.c_str(), devicePath_.c_str()) != 0) {
        const std::string message = errorText("cannot place the line at " + devicePath_);
        close(slave_);
        close(master_);
        throw ToolError(message);
    }
}

PtyLine::~PtyLine() {
    // Remove the link only while it is still the one this tool made.
    char target[128] = {};
    const ssize_t length = readlink(devicePath_.c_str(), target, sizeof target - 1);
    if (length > 0 && slaveName_ == std::string(target, static_cast<size_t>(length))) {
        unlink(devicePath_.c_str());
    }
    close(slave_);
    close(master_);
}

bool PtyLine::write(const char* data, size_t size, const std::function<bool()>& keepGoing) {
    while (size > 0) {
        const ssize_t written = ::write(master_, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN) {
                throw ToolError(errorText("writing to the pseudo-terminal"));
            }
            if (!keepGoing()) {
                return false;
            }
            pollfd fd{master_, POLLOUT, 0};
            poll(&fd, 1, 100);
            continue;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

int PtyLine::pending() const {
    int count = 0;
    if (ioctl(slave_, FIONREAD, &count) != 0) {
        return 0;
    }
    return count;
}

bool PtyLine::drain(int timeoutMs, const std::function<bool()>& keepGoing) const {
    // The kernel moves written bytes into the line's input queue a moment
    // after the write; an empty queue counts only when it stays empty.
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    int emptyChecks = 0;
    while (emptyChecks < 5) {
        if (steady_clock::now() > deadline || !keepGoing()) {
            return false;
        }
        emptyChecks = pending() == 0 ? emptyChecks + 1 : 0;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

}  // namespace vyr::tool
