// A pseudo-terminal pair standing in for the receiver's serial line.
//
// The master side is the "receiver": bytes written to it arrive on the slave,
// which is what the library opens. The slave is exposed at the library's
// build-time device path (VYR_TEST_DEVICE_PATH) through a symbolic link.
//
//   vyr::test::PtyDevice pty;           // opens the pair, creates the link
//   VYR_SKIP_WITHOUT_PTY(pty);          // GTEST_SKIP() with the reason if it failed
//   ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
//   pty.write("$GPGGA,...\r\n");        // write only after Init: until then the
//                                       // slave is not raw (echo, line editing)
//   pty.hangUp();                       // closes the master: the line hangs up
//
// The destructor removes the link and closes the master. One PtyDevice per
// path at a time. SIGHUP is ignored from the first construction on: the
// library opens the slave without O_NOCTTY, so a test process that happens to
// be a session leader would get the slave as its controlling terminal and be
// sent SIGHUP when the master closes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#ifndef VYR_TEST_DEVICE_PATH
#error "VYR_TEST_DEVICE_PATH must be defined (vyr_add_gtest does so)"
#endif

namespace vyr::test {

class PtyDevice {
public:
    explicit PtyDevice(const char* linkPath = VYR_TEST_DEVICE_PATH) : linkPath_(linkPath) {
        signal(SIGHUP, SIG_IGN);
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0) {
            fail("posix_openpt");
            return;
        }
        char slave[128];
        if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
            ptsname_r(master_, slave, sizeof slave) != 0) {
            fail("grantpt/unlockpt/ptsname");
            return;
        }
        slavePath_ = slave;
        unlink(linkPath_.c_str());  // a link left by a crashed run
        if (symlink(slavePath_.c_str(), linkPath_.c_str()) != 0) {
            fail(("symlink " + linkPath_).c_str());
            return;
        }
        linked_ = true;
    }

    ~PtyDevice() {
        if (linked_) {
            unlink(linkPath_.c_str());
        }
        hangUp();
    }

    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // True when the pair is open and the link is in place.
    [[nodiscard]] bool ok() const { return linked_; }
    // Why ok() is false (empty otherwise).
    [[nodiscard]] const std::string& error() const { return error_; }

    [[nodiscard]] int master() const { return master_; }
    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }
    [[nodiscard]] const std::string& linkPath() const { return linkPath_; }

    // Writes all bytes to the master (blocking while the line's buffer is
    // full). false on an error, e.g. after hangUp().
    bool write(std::string_view bytes) const {
        while (!bytes.empty()) {
            const ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            bytes.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // The line settings as the slave side sees them (opens the slave
    // separately, without becoming its controlling process).
    bool slaveAttributes(termios& attributes) const {
        const int fd = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            return false;
        }
        const bool got = tcgetattr(fd, &attributes) == 0;
        close(fd);
        return got;
    }

    // Closes the master: the slave sees a hang-up. Idempotent.
    void hangUp() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

private:
    void fail(const char* what) { error_ = std::string(what) + " failed: " + std::strerror(errno); }

    std::string linkPath_;
    std::string slavePath_;
    std::string error_;
    int master_ = -1;
    bool linked_ = false;
};

}  // namespace vyr::test

// Skips the current test, with the reason, when the pty could not be set up.
#define VYR_SKIP_WITHOUT_PTY(pty)                                              \
    do {                                                                       \
        if (!(pty).ok()) {                                                     \
            GTEST_SKIP() << "no pseudo-terminal available: " << (pty).error(); \
        }                                                                      \
    } while (false)
