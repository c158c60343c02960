#include "manager/framer.h"

#include <cstring>

#include "common/log.h"

namespace vyr::mng {

void Framer::startSentence() noexcept {
    std::memset(buffer_.data(), 0, buffer_.size());
    buffer_[0] = '$';
    length_ = 1;
    inSentence_ = true;
}

void Framer::discardOverflow(uint8_t byte) noexcept {
    VYR_LOG_ERR_IN("MNG_GPS_MsgReadThread", "should expand buff size,discard data[%c]\n",
                   static_cast<int>(byte));
}

}  // namespace vyr::mng
