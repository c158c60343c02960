// A pseudo-terminal standing in for the receiver's serial line: bytes written
// to the master arrive on the slave, which is linked at the library's device
// path. Write only after Init: until then the slave is not raw (echo, line
// editing). One PtyDevice at a time; the destructor removes the link.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vyr::test {

class PtyDevice {
public:
    PtyDevice() {
        // The library opens the slave without O_NOCTTY: a session leader would
        // get it as controlling terminal and SIGHUP when the master closes.
        signal(SIGHUP, SIG_IGN);
        unlink(VYR_TEST_DEVICE_PATH);  // left by a crashed run
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char slave[128];
        linked_ = master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
                  ptsname_r(master_, slave, sizeof slave) == 0 &&
                  symlink(slave, VYR_TEST_DEVICE_PATH) == 0;
        error_ = linked_ ? "" : std::strerror(errno);
    }
    ~PtyDevice() {
        unlink(VYR_TEST_DEVICE_PATH);
        hangUp();
    }
    PtyDevice(const PtyDevice&) = delete;

    [[nodiscard]] bool ok() const { return linked_; }
    [[nodiscard]] const std::string& error() const { return error_; }

    // Blocks while the line's buffer is full; false on an error.
    bool write(const std::string& bytes) const {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EINTR) return false;
            done += n > 0 ? static_cast<size_t>(n) : 0;
        }
        return true;
    }

    // Closes the master: the slave sees a hang-up.
    void hangUp() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

private:
    std::string error_;
    int master_ = -1;
    bool linked_ = false;
};

}  // namespace vyr::test

#define VYR_SKIP_WITHOUT_PTY(pty) \
    if (!(pty).ok()) GTEST_SKIP() << "no pseudo-terminal available: " << (pty).error()
