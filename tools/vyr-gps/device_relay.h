// A receiver at any serial device (--device PATH) for monitor and serve: the
// tool opens PATH itself (receiver_port.h) and relays its bytes, as read,
// into a pseudo-terminal at the library's device path, as replay does with a
// capture. The library reads that line and knows nothing of PATH.
//
// The speed is the one given, or found (--baud auto) by trying the usual
// speeds until sentences with good checksums arrive; what was read at the
// right speed is relayed from the first good sentence on. When PATH hangs up
// (a USB receiver unplugged) the relay keeps the library's line open, closes
// PATH and opens it again with a back-off of 0.25 s doubling up to 5 s, then
// finds the speed again: the library sees one unbroken line.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pty_line.h"
#include "receiver_port.h"

namespace vyr::tool {

class DeviceRelay {
public:
    struct Config {
        std::string path;
        std::optional<int> baud;  // nullopt: find it
        std::string linePath;     // the library's device path
        // A missing PATH at start: false refuses (ToolError), true waits for
        // it. Any other failure to open refuses at start.
        bool waitForMissing = false;
        std::chrono::milliseconds firstRetry{250};
        std::chrono::milliseconds maxRetry{5000};
        std::chrono::milliseconds probeWindow{1500};  // per speed tried
    };
    // Relay thread: the receiver is there and sends at bps, or it went away.
    using SourceChanged = std::function<void(bool up, int bps)>;

    // Opens PATH and places the line (ToolError when either cannot be done).
    DeviceRelay(Config config, SourceChanged sourceChanged);
    ~DeviceRelay();
    DeviceRelay(const DeviceRelay&) = delete;
    DeviceRelay& operator=(const DeviceRelay&) = delete;

    // Thread body: relays until requestStop().
    void run();
    // Any thread.
    void requestStop();

private:
    enum class Wait { Readable, HungUp, Stopped, TimedOut };
    Wait waitForInput(std::optional<std::chrono::milliseconds> timeout) const;
    // The speed of the opened port, given or found; nullopt when PATH hung
    // up or a stop was requested meanwhile. first: bytes to relay first.
    std::optional<int> chooseSpeed(std::string& first);
    // Relays until PATH hangs up or a stop is requested.
    void relay(const std::string& first);
    bool reopen(int& attempts, std::chrono::milliseconds& retry);
    [[nodiscard]] bool stopping() const { return stopping_.load(); }

    Config config_;
    SourceChanged sourceChanged_;
    ReceiverPort port_;
    std::unique_ptr<PtyLine> line_;
    int stopFd_ = -1;
    std::atomic<bool> stopping_{false};
};

}  // namespace vyr::tool
