// The reader thread: the library's only producer of input.
#pragma once

#include <cstdint>

namespace vyr::mng {

// Hands one sentence on: the NMEA callbacks, then the collector (which may
// parse and deliver a completed epoch), under one hold of mngLock. Reader
// thread; the sentence is handed on in place.
void handOnSentence(const char* sentence, uint32_t length) noexcept;

// True on the reader thread (for example inside a callback): that thread can
// neither join nor wait for itself.
[[nodiscard]] bool onReaderThread() noexcept;

}  // namespace vyr::mng
