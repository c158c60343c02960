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

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kTick{250};

}  // namespace

LineSupervisor::LineSupervisor(Config config, Hooks hooks)
    : config_(std::move(config)), hooks_(std::move(hooks)) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        throw ToolError(std::string("cannot create an event descriptor: ") + std::strerror(errno));
    }
}

LineSupervisor::~LineSupervisor() {
    close(wakeFd_);
}

void LineSupervisor::requestStop() {
    stopping_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(wakeFd_, &one, sizeof one);
}

void LineSupervisor::run() {
    auto retry = config_.firstRetry;
    while (!stopping_.load()) {
        if (!up_) {
            if (bringUp()) {
                retry = config_.firstRetry;
            } else {
                waitForHangUp(retry);
                retry = std::min(retry * 2, config_.maxRetry);
            }
            continue;
        }
        if (waitForHangUp(kTick)) {
            notice("the line %s hung up; reopening it", config_.device.c_str());
            bringDown();
            waitForHangUp(config_.firstRetry);
            continue;
        }
        checkSilence();
    }
    if (up_) {
        bringDown();
    }
}

bool LineSupervisor::bringUp() {
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
        if (failures_++ == 0) {
            notice("%s; trying again until it opens", initFailure(config_.device, init).c_str());
        }
        return false;
    }
    const uint32_t start = VYR_GPSPARSER_Start();
    if (start != VYR_GPS_OK) {
        VYR_GPSPARSER_Deinit();
        if (failures_++ == 0) {
            notice("cannot start the reader thread (VYR_GPSPARSER_Start returned %s)",
                   hex(start).c_str());
        }
        return false;
    }
    // The watch descriptor never reads: it only learns of a hang-up.
    watchFd_ = open(config_.device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (watchFd_ < 0) {
        notice("cannot watch %s for a hang-up (%s); only silence will be noticed",
               config_.device.c_str(), std::strerror(errno));
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
    hooks_.lineChanged(isoNow());
    return true;
}

void LineSupervisor::bringDown() {
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
    up_ = false;
    hooks_.lineChanged(std::nullopt);
}

bool LineSupervisor::waitForHangUp(std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {watchFd_, 0, 0}};
    const nfds_t count = watchFd_ >= 0 ? 2 : 1;
    const int ready = poll(fds, count, static_cast<int>(timeout.count()));
    if (ready <= 0) {
        return false;
    }
    return count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Once per silence: a line that is open but quiet (receiver without power,
// wrong baud rate, cable cut on the data wire only).
void LineSupervisor::checkSilence() {
    const auto last = hooks_.lastSentence();
    const Clock::time_point heard = std::max(upSince_, Clock::time_point(last));
    const auto quiet = Clock::now() - heard;
    if (!silent_ && quiet >= config_.silence) {
        silent_ = true;
        notice("no sentence from %s for %.0f s", config_.device.c_str(),
               std::chrono::duration<double>(quiet).count());
    } else if (silent_ && quiet < config_.silence) {
        silent_ = false;
        notice("sentences from %s again", config_.device.c_str());
    }
}

}  // namespace vyr::tool
