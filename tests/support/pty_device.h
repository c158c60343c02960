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

namespace vyr::test {

class PtyDevice {
public:
    PtyDevice() {
        // The library opens the slave without O_NOCTTY: a session leader would
        // get it as controlling terminal and SIGHUP when the master closes.
        signal(SIGHUP, SIG_IGN);
        unlink(VYR_TEST_DEVICE_PATH);  // left by a crashed run
        // Close-on-exec: a child process holding the master would keep the
        // line from ever hanging up.
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char slave[128];
        if (master_ < 0 || grantpt(master_) || unlockpt(master_) ||
            ptsname_r(master_, slave, sizeof slave) || symlink(slave, VYR_TEST_DEVICE_PATH))
            error_ = errno;
    }
    ~PtyDevice() { unlink(VYR_TEST_DEVICE_PATH), hangUp(); }

    bool ok() const { return error_ == 0; }
    const char* error() const { return std::strerror(error_); }
    // A blocking write to a terminal returns once every byte is queued.
    bool write(const std::string& bytes) const {
        return ::write(master_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    }
    // Closes the master: the slave sees a hang-up.
    void hangUp() { close(std::exchange(master_, -1)); }

private:
    int master_ = -1, error_ = 0;
};

}  // namespace vyr::test

#define VYR_SKIP_WITHOUT_PTY(pty) \
    if (!(pty).ok()) GTEST_SKIP() << "no pseudo-terminal available: " << (pty).error()
