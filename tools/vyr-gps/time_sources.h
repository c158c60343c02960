// vyr-gps serve as a time source: for every fix whose time is trusted, a
// sample to chrony's socket (--chrony-sock) and to the NTP shared memory
// (--ntp-shm) and a TOFF report to the watchers that asked for "pps"; with
// --pps, the pulse of that second as a pulse sample (the socket PATH.pps and
// the next shared-memory unit) and a PPS report.
//
// A sample is sent when the epoch has ended, once every sentence of it passed
// its checksum, not when its TPV goes out (before its last sentences). That
// is up to about a second after the second began; the sample carries its own
// timestamps, and chrony takes samples up to two of its polling intervals old.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "assembler.h"
#include "pps.h"
#include "time_sample.h"

namespace vyr::tool {

class ChronySock;
class NtpShm;

// The sentence sample of an epoch that ended with a trusted time: fix is the
// epoch's TPV (the same epoch as end), baud the line's rate. None for an
// epoch that is not trusted, or a fix without a dated time.
[[nodiscard]] std::optional<TimeSample> epochTimeSample(const Fix& fix, const EpochEnd& end,
                                                        int baud);

// The last few assert edges of a PPS source: written by the thread that
// reads the device, read by the event loop.
class RecentEdges {
public:
    static constexpr size_t kKept = 4;
    void add(const PpsEdge& edge);
    [[nodiscard]] std::vector<PpsEdge> snapshot() const;

private:
    mutable std::mutex lock_;
    std::vector<PpsEdge> edges_;
};

// Where the samples and reports of one epoch go.
struct TimeSinks {
    std::function<void(const TimeSample&)> sentence;  // each trusted epoch's sample
    std::function<void(const TimeSample&)> pulse;     // the pulse paired with it
};

// Pairs each trusted epoch with its pulse and hands both on. Event loop only.
class TimePublisher {
public:
    TimePublisher(TimeSinks sinks, const RecentEdges* edges)
        : sinks_(std::move(sinks)), edges_(edges) {}

    // Each presentation of the assembler, in order.
    void take(const Presentation& presentation);
    void setBaud(int baud) { baud_ = baud; }

private:
    TimeSinks sinks_;
    const RecentEdges* edges_;
    int baud_ = kDefaultBaud;
    std::optional<Fix> fix_;  // the last TPV, for its epoch's end
    std::optional<uint32_t> lastPulse_;
};

class Server;

// The refclocks and the PPS device of serve, wired to the server's reports.
class TimeSources {
public:
    struct Config {
        std::string chronySock;     // empty: none
        std::optional<int> ntpShm;  // unit
        std::string ppsDevice;      // empty: none
    };

    // ToolError when a refclock or the PPS device cannot be set up.
    TimeSources(const Config& config, Server& server);
    ~TimeSources();
    TimeSources(const TimeSources&) = delete;
    TimeSources& operator=(const TimeSources&) = delete;

    // Event loop.
    void take(const Presentation& presentation) { publisher_->take(presentation); }
    void setBaud(int baud) { publisher_->setBaud(baud); }

private:
    void readPulses();

    std::unique_ptr<ChronySock> sock_, pulseSock_;
    std::unique_ptr<NtpShm> shm_, pulseShm_;
    std::unique_ptr<PpsDevice> pps_;
    RecentEdges edges_;
    std::unique_ptr<TimePublisher> publisher_;
    std::atomic<bool> stopping_{false};
    std::thread reading_;
};

}  // namespace vyr::tool
