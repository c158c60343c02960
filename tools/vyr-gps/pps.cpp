#include "pps.h"

#include <fcntl.h>
#include <linux/pps.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool_error.h"

namespace vyr::tool {

namespace {

int64_t nanos(const timespec& t) {
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

}  // namespace

std::optional<PulsePair> pairPulse(std::span<const PpsEdge> recent, const TimeSample& fix,
                                   std::optional<uint32_t> lastPaired) {
    if (fix.real.tv_nsec != 0) {
        return std::nullopt;
    }
    const int64_t start = nanos(fix.clock);
    const int64_t maxLead = std::chrono::nanoseconds(kMaxPulseLead).count();
    const PpsEdge* found = nullptr;
    for (const PpsEdge& edge : recent) {
        const int64_t lead = start - nanos(edge.clock);
        if (lead < 0 || lead > maxLead) {
            continue;
        }
        if (found != nullptr && found->sequence != edge.sequence) {
            return std::nullopt;  // two edges in one second: which one is the pulse is unknown
        }
        found = &edge;
    }
    if (found == nullptr || (lastPaired && *lastPaired == found->sequence)) {
        return std::nullopt;
    }
    return PulsePair{{fix.real, found->clock, kPulsePrecision}, found->sequence};
}

PpsDevice::PpsDevice(const std::string& path) : path_(path) {
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
        throw ToolError("cannot open the PPS device " + path + ": " + std::strerror(errno));
    }
    int capabilities = 0;
    if (ioctl(fd_, PPS_GETCAP, &capabilities) != 0) {
        const bool notPps = errno == ENOTTY || errno == EINVAL;
        const std::string reason = notPps ? std::string(" is not a PPS device")
                                          : std::string(" is unusable: ") + std::strerror(errno);
        close(fd_);
        throw ToolError(path + reason);
    }
    if ((capabilities & PPS_CAPTUREASSERT) == 0) {
        close(fd_);
        throw ToolError("the PPS device " + path + " cannot capture assert edges");
    }
}

PpsDevice::~PpsDevice() {
    close(fd_);
}

std::optional<PpsEdge> PpsDevice::next(std::chrono::milliseconds timeout) {
    pps_fdata data{};
    data.timeout.sec = timeout.count() / 1000;
    data.timeout.nsec = static_cast<int32_t>(timeout.count() % 1000 * 1000000);
    // The kernel waits for the next edge of the source (or the timeout).
    if (ioctl(fd_, PPS_FETCH, &data) != 0) {
        if (errno == ETIMEDOUT || errno == EINTR) {
            return std::nullopt;
        }
        throw ToolError("cannot read the PPS device " + path_ + ": " + std::strerror(errno));
    }
    timespec clock{};
    clock.tv_sec = static_cast<time_t>(data.info.assert_tu.sec);
    clock.tv_nsec = data.info.assert_tu.nsec;
    return PpsEdge{data.info.assert_sequence, clock};
}

}  // namespace vyr::tool
