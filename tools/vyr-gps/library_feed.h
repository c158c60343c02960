// The library's callbacks for vyr-gps serve. They run on the library's
// reader thread with its lock held, so they only copy: the record and raw set
// of a fix, and a sentence when some client wants sentences, into a bounded
// queue; the first event into an empty queue asks the event loop (through
// wake) to drain it. Nothing here waits for a client.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "fix.h"
#include "library.h"

namespace vyr::tool {

class LibraryFeed {
public:
    using Event = std::variant<std::string, std::unique_ptr<EpochCopy>>;
    // Events kept when the loop falls behind; older ones are dropped first.
    static constexpr size_t kMaxQueued = 1024;

    struct Hooks {
        std::function<void()> wake;             // any thread: schedule drain()
        std::function<bool()> sentencesWanted;  // reader thread: copy sentences?
        std::function<void()> sentenceSeen;     // reader thread: after every sentence
    };

    explicit LibraryFeed(Hooks hooks);
    LibraryFeed(const LibraryFeed&) = delete;
    LibraryFeed& operator=(const LibraryFeed&) = delete;

    // Registers and unregisters both callbacks (ToolError when it cannot).
    void attach() { callbacks_.attach(); }
    void detach() { callbacks_.detach(); }

    // Event loop: takes everything queued, and how many events were dropped
    // since the last call.
    struct Batch {
        std::deque<Event> events;
        uint64_t dropped = 0;
    };
    [[nodiscard]] Batch drain();

private:
    static void onSentence(const char* sentence, uint32_t length, void* self);
    static void onFix(const GpsMsgPacket* packet, void* self);
    void push(Event event);

    Hooks hooks_;
    std::mutex lock_;
    std::deque<Event> queue_;
    uint64_t dropped_ = 0;
    // Last: unregistered first on destruction, before the queue goes.
    CallbackPair callbacks_;
};

}  // namespace vyr::tool
