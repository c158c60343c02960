#include "capture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace vyr::tool {

std::vector<char> readCapture(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        throw ToolError("cannot open capture " + path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw ToolError("cannot open capture " + path + ": is a directory");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ToolError("cannot open capture " + path + ": " + std::strerror(errno));
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t feedSerial(PtyLine& line, const std::vector<char>& data, const Pace& pace,
                  const std::function<bool()>& keepGoing,
                  const std::function<void(size_t)>& progress) {
    using namespace std::chrono;
    const double rate = kLineBytesPerSecond * pace.speed;
    constexpr size_t kChunk = 256;
    // --fast keeps only a small window in flight, so the library's reader
    // sets the pace and a stop request is answered promptly.
    constexpr int kFastWindow = 2048;
    // Longest sleep between two looks at keepGoing.
    constexpr milliseconds kLongestSleep{100};
    const auto begin = steady_clock::now();
    size_t written = 0;  // over all passes
    size_t offset = 0;   // in this pass
    while (keepGoing()) {
        if (offset == data.size()) {
            if (!pace.loop || data.empty()) {
                break;
            }
            offset = 0;
        }
        size_t count = std::min(kChunk, data.size() - offset);
        if (pace.fast) {
            if (line.pending() > kFastWindow) {
                std::this_thread::sleep_for(milliseconds(1));
                continue;
            }
        } else {
            // A line at a time, written when its last byte is due, as a
            // receiver's UART delivers a sentence: one wake-up per sentence,
            // not one per few bytes.
            const auto lineEnd =
                std::find(data.begin() + static_cast<std::ptrdiff_t>(offset),
                          data.begin() + static_cast<std::ptrdiff_t>(offset + count), '\n');
            if (lineEnd != data.begin() + static_cast<std::ptrdiff_t>(offset + count)) {
                count = static_cast<size_t>(lineEnd - data.begin()) + 1 - offset;
            }
            const auto due = begin + duration_cast<steady_clock::duration>(duration<double>(
                                         static_cast<double>(written + count) / rate));
            if (steady_clock::now() < due) {
                std::this_thread::sleep_until(std::min(due, steady_clock::now() + kLongestSleep));
                continue;
            }
        }
        if (!line.write(data.data() + offset, count, keepGoing)) {
            break;
        }
        offset += count;
        written += count;
        progress(written);
    }
    return written;
}

SimulatedSource::SimulatedSource(const std::vector<char>& data, const Pace& pace)
    : rate_(pace.fast ? 0.0 : kLineBytesPerSecond * pace.speed), loop_(pace.loop) {
    size_t lineStart = 0;
    for (size_t i = 0; i <= data.size(); ++i) {
        if (i < data.size() && data[i] != '\r' && data[i] != '\n') {
            continue;
        }
        const std::string text(data.begin() + static_cast<std::ptrdiff_t>(lineStart),
                               data.begin() + static_cast<std::ptrdiff_t>(i));
        const size_t dollar = text.rfind('$');
        if (dollar != std::string::npos) {
            sentences_.push_back({text.substr(dollar, VYR_GPS_SENTENCE_SIZE - 1), i + 1});
        }
        lineStart = i + 1;
    }
    total_ = data.size();
    loop_ = loop_ && !sentences_.empty();
    instance_.store(this);
}

SimulatedSource::~SimulatedSource() {
    instance_.store(nullptr);
}

int32_t SimulatedSource::next(char* buffer, int32_t size) {
    SimulatedSource* source = instance_.load();
    return source == nullptr ? 0 : source->fill(buffer, size);
}

int32_t SimulatedSource::fill(char* buffer, int32_t size) {
    using namespace std::chrono;
    if (!started_) {
        started_ = true;
        begin_ = steady_clock::now();
    }
    if (!stopped_.load() && next_ >= sentences_.size() && loop_) {
        next_ = 0;
        ++passes_;
    }
    if (stopped_.load() || next_ >= sentences_.size()) {
        if (!stopped_.load()) {
            consumed_.store(total_ * (passes_ + 1));
        }
        exhausted_.store(true);
        return 0;
    }
    const Entry& entry = sentences_[next_++];
    const size_t offset = std::min(entry.endOffset, total_) + passes_ * total_;
    if (rate_ > 0.0) {
        const auto due = begin_ + duration_cast<steady_clock::duration>(
                                      duration<double>(static_cast<double>(offset) / rate_));
        std::this_thread::sleep_until(due);
    }
    const size_t length = std::min(entry.text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, entry.text.data(), length);
    buffer[length] = '\0';
    consumed_.store(offset);
    return static_cast<int32_t>(length);
}

}  // namespace vyr::tool
