#include "library_feed.h"

#include "library.h"

namespace vyr::tool {

LibraryFeed::LibraryFeed(Hooks hooks)
    : hooks_(std::move(hooks)), callbacks_(&LibraryFeed::onFix, &LibraryFeed::onSentence, this) {}

// Reader thread, manager lock held.
void LibraryFeed::onSentence(const char* sentence, uint32_t length, void* self) {
    auto* feed = static_cast<LibraryFeed*>(self);
    feed->hooks_.sentenceSeen();
    if (feed->hooks_.sentencesWanted()) {
        feed->push(std::string(sentence, length));
    }
}

// Reader thread, manager lock held. The raw set still holds this epoch's
// sentences (it is cleared after the callbacks).
void LibraryFeed::onFix(const GpsMsgPacket* packet, void* self) {
    auto* feed = static_cast<LibraryFeed*>(self);
    feed->push(copyEpoch(*packet));
}

void LibraryFeed::push(Event event) {
    bool wasEmpty = false;
    {
        std::lock_guard guard(lock_);
        if (queue_.size() >= kMaxQueued) {
            queue_.pop_front();
            ++dropped_;
        }
        wasEmpty = queue_.empty();
        queue_.push_back(std::move(event));
    }
    if (wasEmpty) {
        hooks_.wake();
    }
}

LibraryFeed::Batch LibraryFeed::drain() {
    Batch batch;
    std::lock_guard guard(lock_);
    batch.events.swap(queue_);
    batch.dropped = dropped_;
    dropped_ = 0;
    return batch;
}

}  // namespace vyr::tool
