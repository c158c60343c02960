// Keeps the library reading the receiver for vyr-gps serve, on a thread of
// its own that is the library's one controlling thread (Init, Start, Stop,
// Deinit are called from nowhere else), and says whether the line is up.
//
// Up: Init and Start succeeded. The supervisor then holds a second,
// non-reading descriptor of the device path and waits on it for a hang-up
// (poll reports POLLHUP once the line is gone: a USB receiver unplugged, the
// master side of a pseudo-terminal closed). The library itself only sees end
// of file there and has no way to say so. The descriptor is opened before
// Init: the library takes exclusive use of its port, which refuses every
// later open of it.
// Down: after a hang-up (Stop, Deinit) or a failed Init, Init is tried again
// with a back-off of 0.25 s doubling up to 5 s, until the device path works
// (the library's own log of the retries is silenced after the first).
//
// The line counts as up for the clients while the library runs, the source
// behind a relayed line (setSource) is there, and sentences arrive: a line
// silent for longer than the silence limit counts as down until the next
// sentence. Each change is handed to lineChanged, with a new activation time
// whenever the line comes up.
//
// The thread sleeps until something happens: a hang-up, a stop request, a
// change of the source, the end of the silence limit, or, once silent, the
// next sentence. A silent line wakes it once, not periodically.
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
        std::string device;  // the library's device path
        std::chrono::milliseconds silence{10000};
        std::string name;  // the receiver as messages name it; empty: device
        int bps = 9600;
        bool sourceUp = true;  // a relayed line starts without its source
        std::chrono::milliseconds firstRetry{250};
        std::chrono::milliseconds maxRetry{5000};
    };
    struct Hooks {
        // The line came up (with its ISO 8601 activation time) or went down.
        std::function<void(std::optional<std::string> activated, int bps)> lineChanged;
    };

    LineSupervisor(Config config, Hooks hooks);
    ~LineSupervisor();
    LineSupervisor(const LineSupervisor&) = delete;
    LineSupervisor& operator=(const LineSupervisor&) = delete;

    // Thread body: runs until requestStop(), then stops the library.
    void run();
    // Any thread.
    void requestStop();
    // Any thread: the receiver behind a relayed line went away or is back,
    // sending at bps.
    void setSource(bool up, int bps);
    using Clock = std::chrono::steady_clock;

    // Reader thread (NMEA callback): a sentence was framed at the given time.
    // Cheap: an atomic store and test, a wake-up only at the end of a silence.
    void sentenceSeen(Clock::time_point at);

private:
    bool bringUp();
    void bringDown();
    // Waits up to timeout (forever: nullopt) for a hang-up of the watched
    // line or a wake-up; true on hang-up.
    bool wait(std::optional<std::chrono::milliseconds> timeout);
    void wake();
    // Updates silent_ and returns how long until the line would fall
    // silent, nullopt once it is.
    std::optional<std::chrono::milliseconds> checkSilence();
    void report();
    [[nodiscard]] const std::string& name() const;

    Config config_;
    Hooks hooks_;
    int wakeFd_ = -1;
    int watchFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> sourceUp_;
    std::atomic<int> bps_;
    std::atomic<Clock::rep> lastSentence_{0};
    std::atomic<bool> awaitingSentence_{false};
    bool up_ = false;
    int failures_ = 0;
    Clock::time_point upSince_{};
    bool silent_ = false;
    bool reportedUp_ = false;
};

}  // namespace vyr::tool
