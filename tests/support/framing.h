// A capture run through the library's own framer, in process: each sentence
// it hands on, with the bytes of the input it came from (from its "$" to the
// byte that ended it).
#pragma once

#include <cstdint>
#include <string_view>

#include "manager/framer.h"

namespace vyr::test {

template <typename OnSentence>
void frameCapture(std::string_view bytes, OnSentence&& onSentence) {
    mng::Framer framer;
    size_t begin = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<uint8_t>(bytes[i]);
        const bool ended = framer.frameByte(byte);
        if (byte == '$' && framer.inSentence() && framer.length() == 1) {
            begin = i;
        }
        if (ended) {
            onSentence(std::string_view(framer.sentence(), framer.length()), begin, i);
        }
    }
}

}  // namespace vyr::test
