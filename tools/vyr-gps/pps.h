// Pulse per second: the kernel's PPS API on /dev/ppsN (linux/pps.h) and the
// pairing of its assert edges with the fixes that name their seconds.
//
// A receiver raises the pulse at the top of each second and then sends that
// second's sentences, so the edge of a second lies before the moment the
// receiver began the second's output (the clock of the fix's sentence time
// sample) and less than a second before it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "time_sample.h"

namespace vyr::tool {

struct PpsEdge {
    uint32_t sequence;  // the kernel's count of assert edges
    timespec clock;     // CLOCK_REALTIME at the edge
};

// How long after its pulse a receiver may begin a second's output. An edge
// further back is an earlier second's.
inline constexpr std::chrono::milliseconds kMaxPulseLead{900};

struct PulsePair {
    TimeSample sample;  // the fix's second against the edge's clock
    uint32_t sequence;  // the edge used, for the next call's lastPaired
};

// The pulse sample of a fix: recent holds the last few edges read (any
// order, duplicates allowed), fix the fix's sentence time sample, lastPaired
// the edge used for the previous pulse sample. None unless exactly one edge
// lies within kMaxPulseLead before the fix's output began and it was not used
// already; a fix whose time is not a whole second has no pulse.
[[nodiscard]] std::optional<PulsePair> pairPulse(std::span<const PpsEdge> recent,
                                                 const TimeSample& fix,
                                                 std::optional<uint32_t> lastPaired);

// One PPS source, read by one thread.
class PpsDevice {
public:
    // ToolError for a missing path, a device that is not a PPS source, or
    // one that cannot capture assert edges.
    explicit PpsDevice(const std::string& path);
    ~PpsDevice();
    PpsDevice(const PpsDevice&) = delete;
    PpsDevice& operator=(const PpsDevice&) = delete;

    // Waits up to timeout for the next assert edge (none when it did not
    // come, or a signal interrupted the wait). ToolError when the device
    // fails (gone, unplugged).
    [[nodiscard]] std::optional<PpsEdge> next(std::chrono::milliseconds timeout);

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace vyr::tool
