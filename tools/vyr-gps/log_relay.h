// The library prints its diagnostic lines on standard output, where the tool
// keeps its data. The relay takes them through a pipe and writes them to
// standard error: consecutive lines from the same place in the library (same
// level, function and line, whatever the time stamp and the data they show)
// are shown once and then counted ("last line repeated N times"), and bytes
// that are no text (a discarded binary byte shown in a message) are written
// as \xNN, so that a receiver's binary protocol cannot flood or garble the
// terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vyr::tool {

// The collapsing itself, fed with bytes as they arrive; every call returns
// the text to write now.
class LogCollapser {
public:
    using Clock = std::chrono::steady_clock;
    // A pending repeat count is written after this long even while the run
    // goes on, so that a steady flood still shows.
    static constexpr std::chrono::seconds kReportEvery{10};

    std::string feed(std::string_view bytes, Clock::time_point now);
    // Nothing arrived for a moment: the last line is complete.
    std::string idle(Clock::time_point now);
    std::string finish();
    // When idle() next has something to do: a line waiting to be known
    // complete (soon), a repeat count to show, or nothing (nullopt).
    [[nodiscard]] bool lineWaiting() const { return havePending_; }
    [[nodiscard]] std::optional<Clock::time_point> countDue() const {
        return repeats_ > 0 ? std::optional(runStart_ + kReportEvery) : std::nullopt;
    }

private:
    std::string take(const std::string& line, Clock::time_point now);
    std::string repeats();

    std::string partial_;  // after the last newline
    std::string pending_;  // last line; a following line without a head continues it
    bool havePending_ = false;
    std::string place_;  // of the line shown last
    std::string text_;   // its text without the time stamp
    uint64_t repeats_ = 0;
    bool identical_ = true;
    Clock::time_point runStart_{};
};

class LogRelay {
public:
    // Points standard output at the relay (ToolError when it cannot).
    LogRelay();
    // Points standard output at standard error again and writes what is left.
    ~LogRelay();
    LogRelay(const LogRelay&) = delete;
    LogRelay& operator=(const LogRelay&) = delete;

private:
    void run(int readFd);
    std::thread thread_;
};

}  // namespace vyr::tool
