#include "session.h"

#include "reports.h"
#include "text.h"

namespace vyr::tool {

Session::Session(std::FILE* out, OutputOptions options)
    : out_(out),
      options_(std::move(options)),
      callbacks_(&Session::onFix, &Session::onSentence, this) {
    if (!options_.gpxPath.empty()) {
        gpx_ = std::make_unique<GpxWriter>(options_.gpxPath, options_.trackName);
    }
}

Session::~Session() {
    if (callbacks_.attached()) {
        detach();
    }
}

void Session::startPrinting() {
    printer_ = std::thread([this] {
        if (!options_.json) {
            write(textHeader());
        }
        printLoop();
    });
}

void Session::detach() {
    callbacks_.detach();
    {
        std::lock_guard lock(queueLock_);
        closed_ = true;
    }
    queueReady_.notify_one();
    if (printer_.joinable()) {
        printer_.join();
    }
    if (gpx_) {
        gpx_->finish();
        gpx_.reset();
    }
}

// Reader thread, manager lock held: count, copy, queue. No library call that
// takes the manager lock is made here.
void Session::onSentence(const char* sentence, uint32_t length, void* self) {
    auto* session = static_cast<Session*>(self);
    session->sentences_.fetch_add(1, std::memory_order_relaxed);
    if (opensEpoch({sentence, length})) {
        session->epochsOpened_.fetch_add(1, std::memory_order_relaxed);
    }
    session->push(SentenceEvent{std::string(sentence, length), arrivalNow()});
}

// Reader thread, manager lock held. The raw set still holds this epoch's
// sentences (it is cleared after the callbacks).
void Session::onFix(const GpsMsgPacket* packet, void* self) {
    auto* session = static_cast<Session*>(self);
    session->fixes_.fetch_add(1, std::memory_order_relaxed);
    session->push(copyEpoch(*packet));
}

void Session::push(Event event) {
    {
        std::lock_guard lock(queueLock_);
        queue_.push_back(std::move(event));
    }
    queueReady_.notify_one();
}

void Session::printLoop() {
    std::vector<Presentation> presentations;
    for (;;) {
        Event event;
        {
            std::unique_lock lock(queueLock_);
            queueReady_.wait(lock, [this] { return closed_ || !queue_.empty(); });
            if (queue_.empty()) {
                break;
            }
            event = std::move(queue_.front());
            queue_.pop_front();
        }
        presentations.clear();
        if (auto* sentence = std::get_if<SentenceEvent>(&event)) {
            if (options_.echoNmea) {
                write(sentence->text + "\n");
            }
            assembler_.add(sentence->text, sentence->arrival, presentations);
            present(presentations);
        } else {
            summary_.addRecord(*std::get<std::unique_ptr<EpochCopy>>(event));
        }
    }
    presentations.clear();
    assembler_.finish(presentations);
    present(presentations);
    if (!outputClosed_.load()) {
        std::fflush(out_);
    }
}

void Session::present(const std::vector<Presentation>& presentations) {
    for (const Presentation& presentation : presentations) {
        if (const auto* fix = std::get_if<Fix>(&presentation)) {
            summary_.addFix(*fix);
            if (options_.json) {
                write(tpvReport(*fix, options_.device) + "\n");
            }
            unprinted_ = *fix;
        } else if (const auto* sky = std::get_if<Sky>(&presentation)) {
            if (options_.json) {
                write(skyReport(*sky, options_.device) + "\n");
            }
            if (unprinted_ && unprinted_->epoch == sky->epoch) {
                printFix(*unprinted_, sky);
            }
        } else if (const auto* gst = std::get_if<Gst>(&presentation)) {
            if (options_.json) {
                write(gstReport(*gst, options_.device) + "\n");
            }
        } else {
            const auto& end = std::get<EpochEnd>(presentation);
            summary_.addEpochEnd(end);
            if (unprinted_ && unprinted_->epoch == end.epoch) {
                printFix(*unprinted_, nullptr);
            }
        }
    }
}

// The text line and the GPX point of a fix, with its epoch's sky view when
// that came.
void Session::printFix(const Fix& fix, const Sky* sky) {
    if (!options_.json) {
        write(textLine(fix, sky));
    }
    if (gpx_) {
        gpx_->point(fix, sky);
    }
    unprinted_.reset();
}

// A failed write (the reader of a pipe went away) ends the output for good.
void Session::write(const std::string& text) {
    if (outputClosed_.load()) {
        return;
    }
    if (std::fputs(text.c_str(), out_) < 0 || std::ferror(out_)) {
        outputClosed_.store(true);
    }
}

void Session::printSummary(uint64_t bytes) {
    if (outputClosed_.load()) {
        return;
    }
    summary_.print(
        out_, options_.json,
        {bytes, sentences_.load(), epochsOpened_.load(), assembler_.checksums().failed()});
    std::fflush(out_);
}

}  // namespace vyr::tool
