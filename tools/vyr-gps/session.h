// Connects the tool to the library: the two callbacks (reader thread, manager
// lock held) only copy and queue; a printing thread of the tool's own turns
// the queue into text, JSON or GPX and keeps the totals of the summary.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "fix.h"

namespace vyr::tool {

struct OutputOptions {
    bool json = false;
    bool echoNmea = false;
    std::string gpxPath;  // empty: no GPX
    std::string device;   // "device" member of JSON reports
};

struct Summary {
    uint64_t bytes = 0;
    uint64_t sentences = 0;
    uint64_t fixes = 0;
    uint64_t validFixes = 0;
    std::optional<UtcTime> first, last;
    double distanceMetres = 0.0;
};

class GpxWriter;

class Session {
public:
    // out receives fixes and the summary; the GPX file is opened here
    // (ToolError when it cannot be).
    Session(std::FILE* out, OutputOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Registers both callbacks with the library and starts the printing thread.
    void attach();
    // Unregisters (after Stop: no callback runs any more), then lets the
    // printing thread finish the queue and write the GPX footer.
    void detach();

    [[nodiscard]] uint64_t sentences() const { return sentences_.load(); }
    [[nodiscard]] uint64_t fixes() const { return fixes_.load(); }

    // Prints the summary (after detach).
    void printSummary(uint64_t bytes);

private:
    using Event = std::variant<std::string, std::unique_ptr<EpochCopy>>;

    static void onSentence(const char* sentence, uint32_t length, void* self);
    static void onFix(const GpsMsgPacket* packet, void* self);
    void push(Event event);
    void printLoop();
    void print(const Fix& fix);

    std::FILE* out_;
    OutputOptions options_;
    std::unique_ptr<GpxWriter> gpx_;
    GpsCallbackReg dataReg_{};
    GpsCallbackReg nmeaReg_{};

    std::atomic<uint64_t> sentences_{0};
    std::atomic<uint64_t> fixes_{0};

    std::mutex queueLock_;
    std::condition_variable queueReady_;
    std::deque<Event> queue_;
    bool closed_ = false;
    std::thread printer_;

    Summary summary_;  // printing thread only, read after join
    std::optional<Fix> lastValid_;
};

}  // namespace vyr::tool
