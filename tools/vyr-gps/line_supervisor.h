// Keeps the library reading the receiver for vyr-gps serve, on a thread of
// its own that is the library's one controlling thread (Init, Start, Stop,
// Deinit are called from nowhere else).
//
// Up: Init and Start succeeded. The supervisor then holds a second,
// non-reading descriptor of the device path and waits on it for a hang-up
// (poll reports POLLHUP once the line is gone: a USB receiver unplugged, the
// master side of a pseudo-terminal closed). The library itself only sees end
// of file there and has no way to say so.
// Down: after a hang-up (Stop, Deinit) or a failed Init, Init is tried again
// with a back-off of 0.25 s doubling up to 5 s, until the device path works
// (the library's own log of the retries is silenced after the first).
// A line that stays open but sends nothing is logged once per silence.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace vyr::tool {

class LineSupervisor {
public:
    struct Config {
        std::string device;
        std::chrono::milliseconds silence{10000};
        std::chrono::milliseconds firstRetry{250};
        std::chrono::milliseconds maxRetry{5000};
    };
    struct Hooks {
        // The line came up (with its ISO 8601 activation time) or went down.
        std::function<void(std::optional<std::string> activated)> lineChanged;
        // Steady-clock time of the last sentence, 0 before the first.
        std::function<std::chrono::steady_clock::duration()> lastSentence;
    };

    LineSupervisor(Config config, Hooks hooks);
    ~LineSupervisor();
    LineSupervisor(const LineSupervisor&) = delete;
    LineSupervisor& operator=(const LineSupervisor&) = delete;

    // Thread body: runs until requestStop(), then stops the library.
    void run();
    // Any thread.
    void requestStop();

private:
    bool bringUp();
    void bringDown();
    // Waits up to timeout for a hang-up of the watched line or a stop
    // request; true on hang-up.
    bool waitForHangUp(std::chrono::milliseconds timeout);
    void checkSilence();

    Config config_;
    Hooks hooks_;
    int wakeFd_ = -1;
    int watchFd_ = -1;
    std::atomic<bool> stopping_{false};
    bool up_ = false;
    int failures_ = 0;
    std::chrono::steady_clock::time_point upSince_{};
    bool silent_ = false;
};

}  // namespace vyr::tool
