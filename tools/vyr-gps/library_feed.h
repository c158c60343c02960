// The library's NMEA callback for vyr-gps serve. It runs on the library's
// reader thread with its lock held, so it only copies: each sentence, with
// the system clock taken there, into a bounded queue; the first sentence into
// an empty queue asks the event loop (through wake) to drain it. Nothing here
// waits for a client.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "library.h"
#include "sentence.h"

namespace vyr::tool {

class LibraryFeed {
public:
    // Sentences kept when the loop falls behind (minutes of a receiver's
    // output); older ones are dropped first.
    static constexpr size_t kMaxQueued = 4096;

    struct Hooks {
        std::function<void()> wake;          // any thread: schedule drain()
        std::function<void()> sentenceSeen;  // reader thread: after every sentence
    };

    explicit LibraryFeed(Hooks hooks);
    LibraryFeed(const LibraryFeed&) = delete;
    LibraryFeed& operator=(const LibraryFeed&) = delete;

    // Registers and unregisters the callback (ToolError when it cannot).
    void attach() { callbacks_.attach(); }
    void detach() { callbacks_.detach(); }

    // Event loop: takes everything queued, and how many sentences were
    // dropped since the last call.
    struct Batch {
        std::deque<SentenceEvent> sentences;
        uint64_t dropped = 0;
    };
    [[nodiscard]] Batch drain();

private:
    static void onSentence(const char* sentence, uint32_t length, void* self);

    Hooks hooks_;
    std::mutex lock_;
    std::deque<SentenceEvent> queue_;
    uint64_t dropped_ = 0;
    // Last: unregistered first on destruction, before the queue goes.
    CallbackPair callbacks_;
};

}  // namespace vyr::tool
