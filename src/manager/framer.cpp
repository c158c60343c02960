#include "manager/framer.h"

#include <cstring>

#include "common/log.h"

namespace vyr::mng {

namespace {

// A machine word of input bytes, tested for framing bytes all at once.
using Word = uintptr_t;
constexpr size_t kWordSize = sizeof(Word);
constexpr Word kOnes = ~Word{0} / 0xFF;  // 0x01 in every byte
constexpr Word kHighs = kOnes * 0x80;

// Non-zero when some byte of word is below 0x0E (CR and LF are 0x0D and 0x0A)
// or is "$". It may also flag other control bytes: such a word is then taken
// byte by byte, which decides exactly. It never misses a framing byte.
constexpr Word mayHoldFraming(Word word) {
    const Word dollars = word ^ (kOnes * '$');
    return (((word - kOnes * 0x0E) & ~word) | ((dollars - kOnes) & ~dollars)) & kHighs;
}
// One byte of value b at byte position i of a word of "0"s.
constexpr Word withByte(uint8_t b, size_t i) {
    return (kOnes * '0' & ~(Word{0xFF} << (8 * i))) | Word{b} << (8 * i);
}
static_assert(mayHoldFraming(kOnes * '0') == 0 && mayHoldFraming(kOnes * 0x7F) == 0 &&
              mayHoldFraming(kOnes * 0xFF) == 0 && mayHoldFraming(kOnes * 0x0E) == 0);
static_assert(mayHoldFraming(withByte('\r', 0)) != 0 && mayHoldFraming(withByte('\n', 1)) != 0 &&
              mayHoldFraming(withByte('$', kWordSize - 1)) != 0 &&
              mayHoldFraming(withByte('$', kWordSize / 2)) != 0);

}  // namespace

const uint8_t* Framer::frame(const uint8_t* data, const uint8_t* end) noexcept {
    const uint8_t* p = data;
    while (p != end) {
        uint32_t length = state_;
        if (length < kMaxSentenceLength) {
            // An open sentence with room left: append ordinary bytes, a word
            // at a time while whole words fit, then byte by byte.
            char* const text = buffer_.data();
            const size_t room = kMaxSentenceLength - length;
            const size_t available = static_cast<size_t>(end - p);
            for (size_t words = (available < room ? available : room) / kWordSize; words != 0;
                 --words) {
                Word word;
                std::memcpy(&word, p, kWordSize);
                if (mayHoldFraming(word) != 0) break;
                std::memcpy(text + length, &word, kWordSize);
                p += kWordSize;
                length += kWordSize;
            }
            while (p != end && length < kMaxSentenceLength && !isFraming(*p)) {
                text[length++] = static_cast<char>(*p++);
            }
            state_ = length;
            if (p == end) break;
        }
        if (frameOther(*p++)) return p;
    }
    return nullptr;
}

bool Framer::frameOther(uint8_t byte) noexcept {
    const bool lineEnd = byte == '\r' || byte == '\n';
    if (inSentence() && !lineEnd) {
        if (length() >= kMaxSentenceLength) {
            discardOverflow(byte);  // also a "$": no new sentence starts
        } else if (byte == '$') {
            startSentence();  // the text collected so far is dropped
        } else {
            buffer_[length()] = static_cast<char>(byte);
            ++state_;
        }
        return false;
    }
    if (byte == '$') {
        startSentence();
        return false;
    }
    if (lineEnd && inSentence()) {
        state_ |= kClosed;  // the length stays readable
        return true;
    }
    return false;  // between sentences: ignored
}

void Framer::startSentence() noexcept {
    std::memset(buffer_.data(), 0, buffer_.size());
    buffer_[0] = '$';
    state_ = 1;
}

void Framer::discardOverflow(uint8_t byte) noexcept {
    VYR_LOG_ERR_IN("MNG_GPS_MsgReadThread", "should expand buff size,discard data[%c]\n",
                   static_cast<int>(byte));
}

}  // namespace vyr::mng
