// Sentence framer of the reader thread: bytes from "$" up to a CR or LF are
// collected into one 180-byte sentence buffer, which the simulated source
// shares (it writes a whole sentence into the same buffer).
//
// One framer belongs to one run of the reader thread; it takes no lock. It is
// usable without a thread, one byte at a time (tests, fuzz targets, benches).
#pragma once

#include <array>
#include <cstdint>

#include "vyr_gpsparser.h"

namespace vyr::mng {

inline constexpr int32_t kSentenceSize = VYR_GPS_SENTENCE_SIZE;
// Characters a sentence may hold; the last byte keeps the terminating zero.
inline constexpr uint8_t kMaxSentenceLength = kSentenceSize - 1;
static_assert(kSentenceSize == 180, "sentence area shared with the raw sentence slots");

class Framer {
public:
    // Feeds one byte. true when it ended a sentence: sentence() and length()
    // hold it (without the line end, zero-terminated) until the next byte.
    [[nodiscard]] bool frameByte(uint8_t byte) noexcept {
        const bool lineEnd = byte == '\r' || byte == '\n';
        if (inSentence_ && !lineEnd) {
            if (length_ >= kMaxSentenceLength) {
                discardOverflow(byte);  // also a "$": no new sentence starts
            } else if (byte == '$') {
                startSentence();  // the text collected so far is dropped
            } else {
                buffer_[length_++] = static_cast<char>(byte);
            }
            return false;
        }
        if (byte == '$') {
            startSentence();
            return false;
        }
        if (lineEnd && inSentence_) {
            inSentence_ = false;
            return true;
        }
        return false;  // between sentences: ignored
    }

    // The simulated source writes into buffer() (kSentenceSize bytes) and
    // reports its count; the low 8 bits become the length. Whether a device
    // sentence is open is left as it was, so later device characters append
    // to the simulated text.
    [[nodiscard]] char* buffer() noexcept { return buffer_.data(); }
    void takeSimulated(int32_t count) noexcept { length_ = static_cast<uint8_t>(count); }

    [[nodiscard]] const char* sentence() const noexcept { return buffer_.data(); }
    [[nodiscard]] uint8_t length() const noexcept { return length_; }
    [[nodiscard]] bool inSentence() const noexcept { return inSentence_; }

private:
    // Zeroes the whole buffer so that any text in it, also one cut at 179
    // characters, stays terminated.
    void startSentence() noexcept;
    // Logs the byte that did not fit; kept out of line, off the per-byte path.
    [[gnu::cold]] static void discardOverflow(uint8_t byte) noexcept;

    std::array<char, kSentenceSize> buffer_{};
    uint8_t length_ = 0;
    bool inSentence_ = false;
};

}  // namespace vyr::mng
