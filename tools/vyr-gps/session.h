// Connects replay and monitor to the library: the two callbacks (reader
// thread, manager lock held) only count, copy and queue; a printing thread of
// the tool's own assembles the sentences into fixes (assembler.h), turns them
// into text or report lines and GPX, and keeps the totals of the summary.
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

#include "assembler.h"
#include "gpx.h"
#include "library.h"
#include "summary.h"

namespace vyr::tool {

struct OutputOptions {
    bool json = false;      // TPV, SKY and GST report lines instead of text
    bool echoNmea = false;  // every framed sentence too
    std::string gpxPath;    // empty: no GPX
    std::string device;     // "device" of the reports
    std::string trackName;  // name of the GPX track
};

class Session {
public:
    // out receives fixes and the summary; the GPX file is opened here
    // (ToolError when it cannot be).
    Session(std::FILE* out, OutputOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Registers both callbacks with the library; what they deliver is queued.
    void attach() { callbacks_.attach(); }
    // Starts the printing thread, which prints the text header first. Called
    // once the library runs, so that nothing is printed when it cannot.
    void startPrinting();
    // Unregisters (after Stop: no callback runs any more), then lets the
    // printing thread finish the queue and write the GPX footer.
    void detach();

    [[nodiscard]] uint64_t fixes() const { return fixes_.load(); }
    // True once a write to the output failed (a closed pipe): the run should
    // end, nothing more will be printed.
    [[nodiscard]] bool outputClosed() const { return outputClosed_.load(); }

    // Prints the summary (after detach).
    void printSummary(uint64_t bytes);

private:
    using Event = std::variant<SentenceEvent, std::unique_ptr<EpochCopy>>;

    static void onSentence(const char* sentence, uint32_t length, void* self);
    static void onFix(const GpsMsgPacket* packet, void* self);
    void push(Event event);
    void printLoop();
    void present(const std::vector<Presentation>& presentations);
    void printFix(const Fix& fix, const Sky* sky);
    void write(const std::string& text);

    std::FILE* out_;
    OutputOptions options_;
    std::unique_ptr<GpxWriter> gpx_;
    CallbackPair callbacks_;

    std::atomic<uint64_t> sentences_{0};
    std::atomic<uint64_t> epochsOpened_{0};
    std::atomic<uint64_t> fixes_{0};
    std::atomic<bool> outputClosed_{false};

    std::mutex queueLock_;
    std::condition_variable queueReady_;
    std::deque<Event> queue_;
    bool closed_ = false;
    std::thread printer_;

    // Printing thread only, read after join:
    EpochAssembler assembler_;
    std::optional<Fix> unprinted_;  // a text line waits for its epoch's sky view
    Summary summary_;
};

}  // namespace vyr::tool
