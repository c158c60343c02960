// The reader thread: the library's only producer of input.
#pragma once

namespace vyr::mng {

// True on the reader thread (for example inside a callback): that thread can
// neither join nor wait for itself.
[[nodiscard]] bool onReaderThread() noexcept;

}  // namespace vyr::mng
