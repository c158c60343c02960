#include "library_feed.h"

namespace vyr::tool {

LibraryFeed::LibraryFeed(Hooks hooks)
    : hooks_(std::move(hooks)), callbacks_(nullptr, &LibraryFeed::onSentence, this) {}

// Reader thread, manager lock held.
void LibraryFeed::onSentence(const char* sentence, uint32_t length, void* self) {
    auto* feed = static_cast<LibraryFeed*>(self);
    const Arrival arrival = arrivalNow();
    feed->hooks_.sentenceSeen();
    bool wasEmpty = false;
    {
        std::lock_guard guard(feed->lock_);
        if (feed->queue_.size() >= kMaxQueued) {
            feed->queue_.pop_front();
            ++feed->dropped_;
        }
        wasEmpty = feed->queue_.empty();
        feed->queue_.push_back({std::string(sentence, length), arrival});
    }
    if (wasEmpty) {
        feed->hooks_.wake();
    }
}

LibraryFeed::Batch LibraryFeed::drain() {
    Batch batch;
    std::lock_guard guard(lock_);
    batch.sentences.swap(queue_);
    batch.dropped = dropped_;
    dropped_ = 0;
    return batch;
}

}  // namespace vyr::tool
