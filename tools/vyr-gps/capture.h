// Capture files and the two ways of handing one to the library: written
// into the pseudo-terminal at the device path at a chosen pace, or given out
// sentence by sentence through the library's simulated-source hook.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pty_line.h"
#include "vyr_gpsparser.h"

namespace vyr::tool {

inline constexpr double kLineBytesPerSecond = 960.0;  // 9600 baud, 8N1: 10 bits a byte

struct Pace {
    double speed = 1.0;  // times a 9600-baud line
    bool fast = false;   // as fast as the library reads
    bool loop = false;   // start again at the end
};

// The whole file (ToolError when it cannot be read).
[[nodiscard]] std::vector<char> readCapture(const std::string& path);

// Writes the capture into the line at its pace until it ends (never, with
// loop) or keepGoing() says no. progress(bytes) is called after each chunk.
// Returns the number of bytes written.
size_t feedSerial(PtyLine& line, const std::vector<char>& data, const Pace& pace,
                  const std::function<bool()>& keepGoing,
                  const std::function<void(size_t)>& progress);

// Simulated source: one line of the capture per call, from its last "$"
// (what the serial framer keeps of a line), without the line end, cut to 179
// characters. Runs on the reader thread and paces itself by sleeping. One
// instance at a time (the hook is a plain function).
class SimulatedSource {
public:
    SimulatedSource(const std::vector<char>& data, const Pace& pace);
    ~SimulatedSource();
    SimulatedSource(const SimulatedSource&) = delete;
    SimulatedSource& operator=(const SimulatedSource&) = delete;

    // The hook for Vyr_GPSPARSER_RegisterSimulater.
    static int32_t next(char* buffer, int32_t size);

    // Asked again after the last sentence: everything handed out before has
    // been framed, notified and collected.
    [[nodiscard]] bool exhausted() const { return exhausted_.load(); }
    // File bytes handed out so far (over all passes with loop).
    [[nodiscard]] size_t consumed() const { return consumed_.load(); }
    void stop() { stopped_.store(true); }

private:
    struct Entry {
        std::string text;
        size_t endOffset;  // file offset after the line, for pacing and progress
    };
    int32_t fill(char* buffer, int32_t size);

    static inline std::atomic<SimulatedSource*> instance_{nullptr};
    double rate_;
    bool loop_;
    std::vector<Entry> sentences_;
    size_t total_ = 0;
    // Reader thread only:
    size_t next_ = 0;
    size_t passes_ = 0;
    bool started_ = false;
    std::chrono::steady_clock::time_point begin_{};
    std::atomic<bool> exhausted_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<size_t> consumed_{0};
};

}  // namespace vyr::tool
