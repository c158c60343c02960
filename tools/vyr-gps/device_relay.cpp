#include "device_relay.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "notice.h"
#include "tool_error.h"

namespace vyr::tool {

namespace {

constexpr size_t kReadBytes = 4096;

}  // namespace

DeviceRelay::DeviceRelay(Config config, SourceChanged sourceChanged)
    : config_(std::move(config)), sourceChanged_(std::move(sourceChanged)) {
    if (config_.linePath.rfind("/dev/", 0) == 0) {
        throw ToolError("this build's device path is " + config_.linePath +
                        ", a real serial port; --device needs a build whose device path lies "
                        "outside /dev, where the tool places the line it relays into");
    }
    if (const auto failure = port_.open(config_.path)) {
        if (*failure != ReceiverPort::Failure::Missing || !config_.waitForMissing) {
            throw ToolError(port_.failureText());
        }
        notice("%s; trying again until it appears", port_.failureText().c_str());
    }
    line_ = std::make_unique<PtyLine>(config_.linePath);
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        throw ToolError(std::string("cannot create an event descriptor: ") + std::strerror(errno));
    }
}

DeviceRelay::~DeviceRelay() {
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
}

void DeviceRelay::requestStop() {
    stopping_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(stopFd_, &one, sizeof one);
}

void DeviceRelay::run() {
    auto retry = config_.firstRetry;
    int attempts = port_.isOpen() ? 0 : 1;
    while (!stopping()) {
        if (!port_.isOpen() && !reopen(attempts, retry)) {
            continue;
        }
        std::string first;
        const auto bps = chooseSpeed(first);
        if (bps) {
            notice("reading %s at %d bps", config_.path.c_str(), *bps);
            sourceChanged_(true, *bps);
            relay(first);
        }
        if (stopping()) {
            break;
        }
        notice("the line %s hung up; reopening it", config_.path.c_str());
        port_.close();
        if (bps) {
            sourceChanged_(false, *bps);
        }
        waitForInput(config_.firstRetry);
    }
}

// One attempt; false (after the back-off) while PATH cannot be opened.
bool DeviceRelay::reopen(int& attempts, std::chrono::milliseconds& retry) {
    if (port_.open(config_.path)) {
        if (attempts++ == 0) {
            notice("%s; trying again until it opens", port_.failureText().c_str());
        }
        waitForInput(retry);
        retry = std::min(retry * 2, config_.maxRetry);
        return false;
    }
    if (attempts > 0) {
        notice("%s opened after %d attempts", config_.path.c_str(), attempts + 1);
    }
    attempts = 0;
    retry = config_.firstRetry;
    return true;
}

DeviceRelay::Wait DeviceRelay::waitForInput(
    std::optional<std::chrono::milliseconds> timeout) const {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {port_.fd(), POLLIN, 0}};
    const nfds_t count = port_.isOpen() ? 2 : 1;
    int ready;
    do {
        ready = poll(fds, count, timeout ? static_cast<int>(timeout->count()) : -1);
    } while (ready < 0 && errno == EINTR);
    if (stopping() || (fds[0].revents & POLLIN) != 0) {
        return Wait::Stopped;
    }
    if (ready <= 0) {
        return Wait::TimedOut;
    }
    // Bytes that arrived before a hang-up are read first.
    return (fds[1].revents & POLLIN) != 0 ? Wait::Readable : Wait::HungUp;
}

std::optional<int> DeviceRelay::chooseSpeed(std::string& first) {
    using Clock = std::chrono::steady_clock;
    if (config_.baud) {
        port_.setSpeed(*config_.baud);
        return config_.baud;
    }
    char buffer[kReadBytes];
    bool told = false;
    while (!stopping()) {
        for (const int bps : kUsualBauds) {
            if (!port_.setSpeed(bps)) {
                continue;
            }
            SentenceProbe probe;
            const auto deadline = Clock::now() + config_.probeWindow;
            while (!probe.proven()) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0) {
                    break;
                }
                const Wait wait = waitForInput(left);
                if (wait == Wait::Stopped || wait == Wait::HungUp) {
                    return std::nullopt;
                }
                if (wait == Wait::Readable) {
                    const ssize_t count = read(port_.fd(), buffer, sizeof buffer);
                    if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
                        return std::nullopt;
                    }
                    probe.feed({buffer, count > 0 ? static_cast<size_t>(count) : 0});
                }
            }
            if (probe.proven()) {
                first = probe.fromFirstGood();
                return bps;
            }
        }
        if (!told) {
            told = true;
            notice(
                "no sentences with good checksums from %s at any usual speed yet; still "
                "trying (a receiver that sends no checksums needs --baud N)",
                config_.path.c_str());
        }
    }
    return std::nullopt;
}

void DeviceRelay::relay(const std::string& first) {
    const auto keepGoing = [this] { return !stopping(); };
    if (!line_->write(first.data(), first.size(), keepGoing)) {
        return;
    }
    char buffer[kReadBytes];
    for (;;) {
        const Wait wait = waitForInput(std::nullopt);
        if (wait == Wait::Stopped || wait == Wait::HungUp) {
            return;
        }
        const ssize_t count = read(port_.fd(), buffer, sizeof buffer);
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (count <= 0) {  // end of file or EIO: the line is gone
            return;
        }
        if (!line_->write(buffer, static_cast<size_t>(count), keepGoing)) {
            return;
        }
    }
}

}  // namespace vyr::tool
