#include "line_supervisor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "library.h"
#include "notice.h"
#include "reports.h"
#include "tool_error.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"
#include "vyr_platform_services.h"

namespace vyr::tool {

LineSupervisor::LineSupervisor(Config config, Hooks hooks)
    : config_(std::move(config)),
      hooks_(std::move(hooks)),
      sourceUp_(config_.sourceUp),
      bps_(config_.bps) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        throw ToolError(std::string("cannot create an event descriptor: ") + std::strerror(errno));
    }
}

LineSupervisor::~LineSupervisor() {
    close(wakeFd_);
}

const std::string& LineSupervisor::name() const {
    return config_.name.empty() ? config_.device : config_.name;
}

void LineSupervisor::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(wakeFd_, &one, sizeof one);
}

void LineSupervisor::requestStop() {
    stopping_.store(true);
    wake();
}

void LineSupervisor::setSource(bool up, int bps) {
    bps_.store(bps);
    sourceUp_.store(up);
    wake();
}

void LineSupervisor::sentenceSeen(Clock::time_point at) {
    lastSentence_.store(at.time_since_epoch().count());
    if (awaitingSentence_.load() && awaitingSentence_.exchange(false)) {
        wake();
    }
}

void LineSupervisor::run() {
    auto retry = config_.firstRetry;
    while (!stopping_.load()) {
        if (!up_) {
            if (bringUp()) {
                retry = config_.firstRetry;
            } else {
                wait(retry);
                retry = std::min(retry * 2, config_.maxRetry);
            }
            report();
            continue;
        }
        const auto untilSilent = checkSilence();
        report();
        if (wait(untilSilent)) {
            notice("the line %s hung up; reopening it", config_.device.c_str());
            bringDown();
            wait(config_.firstRetry);
        }
    }
    if (up_) {
        bringDown();
    }
}

bool LineSupervisor::bringUp() {
    // The watch descriptor never reads: it only learns of a hang-up. Opened
    // first: once Init holds the port exclusively, no other open succeeds.
    watchFd_ = open(config_.device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int watchError = errno;
    // The first failed attempt is logged in full, the retries quietly: the
    // library logs two lines per failed Init, every few seconds for as long
    // as a receiver stays unplugged.
    const int32_t printLevel = Vyr_Comm_GetPrintLev();
    if (failures_ > 0) {
        VyrPlatform_SetPrintLevel(0);
    }
    const uint32_t init = VYR_GPSPARSER_Init();
    VyrPlatform_SetPrintLevel(printLevel);
    if (init != VYR_GPS_OK) {
        if (watchFd_ >= 0) {
            close(watchFd_);
            watchFd_ = -1;
        }
        if (failures_++ == 0) {
            notice("%s; trying again until it opens", initFailure(config_.device, init).c_str());
        }
        return false;
    }
    const uint32_t start = VYR_GPSPARSER_Start();
    if (start != VYR_GPS_OK) {
        VYR_GPSPARSER_Deinit();
        if (watchFd_ >= 0) {
            close(watchFd_);
            watchFd_ = -1;
        }
        if (failures_++ == 0) {
            notice("cannot start the reader thread (VYR_GPSPARSER_Start returned %s)",
                   hex(start).c_str());
        }
        return false;
    }
    if (watchFd_ < 0) {
        notice("cannot watch %s for a hang-up (%s); only silence will be noticed",
               config_.device.c_str(), std::strerror(watchError));
    }
    if (failures_ > 0) {
        notice("reading %s (it opened after %d attempts)", config_.device.c_str(), failures_ + 1);
    } else {
        notice("reading %s", config_.device.c_str());
    }
    failures_ = 0;
    up_ = true;
    upSince_ = Clock::now();
    silent_ = false;
    return true;
}

// The clients are told first: Stop may wait for the reader's current pass.
void LineSupervisor::bringDown() {
    up_ = false;
    report();
    const uint32_t stop = VYR_GPSPARSER_Stop();
    const uint32_t deinit = VYR_GPSPARSER_Deinit();
    if (stop != VYR_GPS_OK || deinit != VYR_GPS_OK) {
        notice("shutting the library down failed (Stop %s, Deinit %s)", hex(stop).c_str(),
               hex(deinit).c_str());
    }
    if (watchFd_ >= 0) {
        close(watchFd_);
        watchFd_ = -1;
    }
}

bool LineSupervisor::wait(std::optional<std::chrono::milliseconds> timeout) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {watchFd_, 0, 0}};
    const nfds_t count = watchFd_ >= 0 ? 2 : 1;
    int ready;
    do {
        ready = poll(fds, count, timeout ? static_cast<int>(timeout->count()) : -1);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t ignored = read(wakeFd_, &wakes, sizeof wakes);
    }
    return count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// A line that is open but quiet (receiver without power, wrong baud rate,
// cable cut on the data wire only) is logged once per silence.
std::optional<std::chrono::milliseconds> LineSupervisor::checkSilence() {
    // Asked for before the time of the last sentence is read: a sentence
    // framed after that read then wakes the wait (sentenceSeen).
    awaitingSentence_.store(true);
    const Clock::time_point heard =
        std::max(upSince_, Clock::time_point(Clock::duration(lastSentence_.load())));
    const auto quiet = Clock::now() - heard;
    if (quiet >= config_.silence) {
        if (!silent_) {
            silent_ = true;
            notice("no sentence from %s for %.0f s", name().c_str(),
                   std::chrono::duration<double>(quiet).count());
        }
        return std::nullopt;
    }
    awaitingSentence_.store(false);
    if (silent_) {
        silent_ = false;
        notice("sentences from %s again", name().c_str());
    }
    // Rounded up, so that the wait does not end a moment too early.
    return std::chrono::ceil<std::chrono::milliseconds>(config_.silence - quiet);
}

void LineSupervisor::report() {
    const bool lineUp = up_ && sourceUp_.load() && !silent_;
    if (lineUp == reportedUp_) {
        return;
    }
    reportedUp_ = lineUp;
    hooks_.lineChanged(lineUp ? std::optional<std::string>(isoNow()) : std::nullopt, bps_.load());
}

}  // namespace vyr::tool
