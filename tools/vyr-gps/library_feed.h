// The library's NMEA callback for vyr-gps serve. It runs on the library's
// reader thread with the library's lock held and assembles each sentence into
// reports there (assembler.h), so that the event loop is woken only when there
// is something to send: a report, or the sentence itself for clients that
// watch raw sentences. What it releases goes, in order, into a bounded queue;
// the first item into an empty queue asks the event loop (through wake) to
// drain it. Nothing here waits for a client.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "assembler.h"
#include "library.h"
#include "sentence.h"

namespace vyr::tool {

class LibraryFeed {
public:
    // Items kept when the loop falls behind (minutes of a receiver's output);
    // older ones are dropped first.
    static constexpr size_t kMaxQueued = 4096;

    struct Hooks {
        std::function<void()> wake;  // any thread: schedule drain()
        // Reader thread: after every sentence, with its arrival's steady clock.
        std::function<void(std::chrono::steady_clock::time_point)> sentenceSeen;
        std::function<bool()> sentencesWanted;  // reader thread: a client watches sentences
    };

    explicit LibraryFeed(Hooks hooks);
    LibraryFeed(const LibraryFeed&) = delete;
    LibraryFeed& operator=(const LibraryFeed&) = delete;

    // Registers and unregisters the callback (ToolError when it cannot).
    void attach() { callbacks_.attach(); }
    void detach() { callbacks_.detach(); }

    // Any thread: a new line (or none); what was half assembled belongs to
    // the line that went away.
    void newLine();

    // A sentence as framed (for the clients that watch sentences) or a
    // report, in the order the line gave them.
    using Item = std::variant<std::string, Presentation>;
    // Event loop: takes everything queued, how many items were dropped since
    // the last call, and the checksum counts so far.
    struct Batch {
        std::deque<Item> items;
        uint64_t dropped = 0;
        ChecksumGate checksums;
    };
    [[nodiscard]] Batch drain();

private:
    static void onSentence(const char* sentence, uint32_t length, void* self);
    // Under lock_.
    void push(Item item, bool& wake);

    Hooks hooks_;
    std::mutex lock_;
    EpochAssembler assembler_;
    std::vector<Presentation> released_;  // reused: no allocation per sentence
    std::deque<Item> queue_;
    uint64_t dropped_ = 0;
    // Last: unregistered first on destruction, before the queue goes.
    CallbackPair callbacks_;
};

}  // namespace vyr::tool
