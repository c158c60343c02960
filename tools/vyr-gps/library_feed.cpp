#include "library_feed.h"

namespace vyr::tool {

LibraryFeed::LibraryFeed(Hooks hooks)
    : hooks_(std::move(hooks)), callbacks_(nullptr, &LibraryFeed::onSentence, this) {}

void LibraryFeed::push(Item item, bool& wake) {
    if (queue_.size() >= kMaxQueued) {
        queue_.pop_front();
        ++dropped_;
    }
    wake = wake || queue_.empty();
    queue_.push_back(std::move(item));
}

// Reader thread, the library's lock held.
void LibraryFeed::onSentence(const char* sentence, uint32_t length, void* self) {
    auto* feed = static_cast<LibraryFeed*>(self);
    const Arrival arrival = arrivalNow();
    feed->hooks_.sentenceSeen(arrival.steady);
    const std::string_view text(sentence, length);
    bool wake = false;
    {
        std::lock_guard guard(feed->lock_);
        feed->released_.clear();
        feed->assembler_.add(text, arrival, feed->released_);
        if (feed->hooks_.sentencesWanted()) {
            feed->push(std::string(text), wake);
        }
        for (Presentation& presentation : feed->released_) {
            feed->push(std::move(presentation), wake);
        }
    }
    if (wake) {
        feed->hooks_.wake();
    }
}

void LibraryFeed::newLine() {
    std::lock_guard guard(lock_);
    assembler_.reset();
}

LibraryFeed::Batch LibraryFeed::drain() {
    Batch batch;
    std::lock_guard guard(lock_);
    batch.items.swap(queue_);
    batch.dropped = dropped_;
    dropped_ = 0;
    batch.checksums = assembler_.checksums();
    return batch;
}

}  // namespace vyr::tool
