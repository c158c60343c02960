// Sentence framer of the reader thread: bytes from "$" up to a CR or LF are
// collected into one 180-byte sentence buffer, which the simulated source
// shares (it writes a whole sentence into the same buffer).
//
// One framer belongs to one run of the reader thread; it takes no lock. It is
// usable without a thread: a run of bytes at a time (frame, as the reader
// frames what each device read gives) or one byte at a time (frameByte: the
// rules written out byte by byte, for tests, fuzz targets and benches). Both
// share one state and one set of rules, so they may be mixed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/char_class.h"
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
        // Almost every byte is an ordinary character inside an open sentence
        // with room left: a store. Line ends, "$", overflow and closed states
        // take the full rules.
        const uint32_t state = state_;
        if (state < kMaxSentenceLength && !isFraming(byte)) [[likely]] {
            buffer_[state] = static_cast<char>(byte);
            state_ = state + 1;
            return false;
        }
        return frameOther(byte);
    }

    // Feeds the bytes from data up to end until one of them ends a sentence,
    // and returns the position just after that byte; sentence() and length()
    // then hold the sentence until the framer is fed again. nullptr when every
    // byte was taken and none ended a sentence. Exactly frameByte on each byte
    // in turn, with the length kept in a register across ordinary bytes.
    // Defined in manager/framer_run.h, which its callers include.
    [[nodiscard]] const uint8_t* frame(const uint8_t* data, const uint8_t* end) noexcept;

    // The simulated source writes into buffer() (kSentenceSize bytes) and
    // reports its count; the low 8 bits become the length. Whether a device
    // sentence is open is left as it was, so later device characters append
    // to the simulated text.
    [[nodiscard]] char* buffer() noexcept { return buffer_.data(); }
    void takeSimulated(int32_t count) noexcept {
        state_ = (state_ & kClosed) | static_cast<uint8_t>(count);
    }

    [[nodiscard]] const char* sentence() const noexcept { return buffer_.data(); }
    [[nodiscard]] uint8_t length() const noexcept { return static_cast<uint8_t>(state_); }
    [[nodiscard]] bool inSentence() const noexcept { return (state_ & kClosed) == 0; }

private:
    // state_ holds the length in its low 8 bits, plus kClosed while no
    // sentence is open: "open with room left" is one compare of one value.
    static constexpr uint32_t kClosed = 0x100;

    static bool isFraming(uint8_t byte) noexcept {
        return chars::has(static_cast<char>(byte), chars::kFraming);
    }

    // Line ends, "$", overflow and bytes between sentences.
    [[nodiscard]] bool frameOther(uint8_t byte) noexcept;
    // Zeroes the whole buffer so that any text in it, also one cut at 179
    // characters, stays terminated.
    void startSentence() noexcept;
    // Logs the byte that did not fit; kept out of line, off the per-byte path.
    [[gnu::cold]] static void discardOverflow(uint8_t byte) noexcept;

    std::array<char, kSentenceSize> buffer_{};
    uint32_t state_ = kClosed;
};

}  // namespace vyr::mng
