#include "manager/framer.h"

#include <cstring>

#include "common/log.h"

namespace vyr::mng {

bool Framer::frameOther(uint8_t byte) noexcept {
    const bool lineEnd = byte == '\r' || byte == '\n';
    // Ordinary bytes of an open sentence with room left never come here (both
    // entry points store them): inside a sentence this is an overflowing byte
    // or a "$".
    if (inSentence() && !lineEnd) {
        if (length() >= kMaxSentenceLength) {
            discardOverflow(byte);  // also a "$": no new sentence starts
        } else {
            startSentence();  // "$": the text collected so far is dropped
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
