// The framer's run entry point, Framer::frame: a run of bytes at a time, with
// the length kept in a register across ordinary bytes and those bytes copied a
// word at a time. The reader frames each run the device read gives with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "manager/framer.h"

namespace vyr::mng {

namespace run_detail {

// A machine word of input bytes, tested for framing bytes all at once.
using Word = uintptr_t;
inline constexpr size_t kWordSize = sizeof(Word);
inline constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x01 in every byte
inline constexpr Word kHighs = kOnes * 0x80;

// Non-zero when some byte of word is below 0x25: CR, LF and "$" (0x0D, 0x0A,
// 0x24) are, and of the characters a sentence holds only the rare space and
// "!", '"' and "#" besides. A flagged byte is decided byte by byte, so a false
// flag costs time only; a framing byte is never missed.
constexpr Word mayHoldFraming(Word word) {
    return (word - kOnes * 0x25) & ~word & kHighs;
}
// One byte of value b at byte position i of a word of "0"s.
constexpr Word withByte(uint8_t b, size_t i) {
    return (kOnes * '0' & ~(Word{0xFF} << (8 * i))) | Word{b} << (8 * i);
}
static_assert(mayHoldFraming(kOnes * '0') == 0 && mayHoldFraming(kOnes * 0x7F) == 0 &&
              mayHoldFraming(kOnes * 0xFF) == 0 && mayHoldFraming(kOnes * 0x25) == 0);
static_assert(mayHoldFraming(withByte('\r', 0)) != 0 && mayHoldFraming(withByte('\n', 1)) != 0 &&
              mayHoldFraming(withByte('$', kWordSize - 1)) != 0 &&
              mayHoldFraming(withByte('$', kWordSize / 2)) != 0);

}  // namespace run_detail

inline const uint8_t* Framer::frame(const uint8_t* data, const uint8_t* end) noexcept {
    using namespace run_detail;
    const uint8_t* p = data;
    while (p != end) {
        uint32_t length = state_;
        if (length < kMaxSentenceLength) {
            // An open sentence with room left: append ordinary bytes up to the
            // first framing byte, the end of the input or a full buffer, a
            // word at a time while whole words fit and none of their bytes is
            // flagged, then byte by byte. A word is stored only when all of it
            // is text, so the zeros after the text stay.
            char* const text = buffer_.data();
            const size_t room = kMaxSentenceLength - length;
            const size_t available = static_cast<size_t>(end - p);
            const uint8_t* const stop = p + (available < room ? available : room);
            while (static_cast<size_t>(stop - p) >= kWordSize) {
                Word word;
                std::memcpy(&word, p, kWordSize);
                if (mayHoldFraming(word) != 0) break;  // decided byte by byte below
                std::memcpy(text + length, &word, kWordSize);
                p += kWordSize;
                length += kWordSize;
            }
            for (; p != stop && !isFraming(*p); ++p) text[length++] = static_cast<char>(*p);
            state_ = length;
            if (p == end) break;
        }
        if (frameOther(*p++)) return p;
    }
    return nullptr;
}

}  // namespace vyr::mng
