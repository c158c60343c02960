// Serial GPS device: the receiver's port, opened as a raw 9600-baud 8N1 line,
// held exclusively while open, and read a run at a time: when the line is
// readable, every byte waiting (up to kReadBufferSize) is read with one system
// call and handed on from the buffer without further calls. The descriptor is
// the manager's (deviceFd); the buffered bytes belong to it.
//
// Threads: open and release run on the controlling thread while no reader
// runs; the reads run only on the reader thread. No lock of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vyr_gpsparser.h"

namespace vyr::dev {

// Timeout of one read pass of the reader thread.
inline constexpr int32_t kReadTimeoutMs = 500;

// Bytes one read takes at most. A UART hands the tty layer its FIFO's worth at
// a time (16 bytes on a 16550, 32 to 128 on the UARTs of ARM SoCs) and a USB
// receiver a 64-byte full-speed packet, often a whole sentence in a few
// packets completed together. 256 bytes take any of these, and the longest
// sentence the framer keeps (179 characters) with its line end, in one read;
// whatever is beyond waits in the kernel's buffer for the next pass.
inline constexpr size_t kReadBufferSize = 256;

// 0 when open (also when it already was), -1 when the port cannot be opened or
// another opener holds it.
[[nodiscard]] int32_t VyrGpsDevInit() noexcept;

// 0 when released or not open, else the platform's non-zero result.
[[nodiscard]] int32_t VyrGpsDevDeInit() noexcept;

// Waits up to timeoutMs for one byte. 0 with readLen 0 or 1, or one of the
// VYR_GPS_E_DEV_* codes. A byte already buffered is handed on at once.
[[nodiscard]] uint32_t GpsGetRawData(GpsDevData* gpsData, int32_t timeoutMs) noexcept;

// Bytes read from the open descriptor and not yet handed on: [begin, end).
// Reader thread, and open and release while no reader runs.
struct LineInput {
    uint8_t bytes[kReadBufferSize];
    uint16_t begin;
    uint16_t end;
};
static_assert(kReadBufferSize <= UINT16_MAX, "run positions are 16-bit");
[[gnu::visibility("hidden")]] extern constinit LineInput gLineInput;

// The reader's read: when no byte is left in the buffer, one wait of up to
// timeoutMs and one read fill it. Results and log lines as GpsGetRawData, and
// readLen written where its request's is. On 0 the run is the buffer's
// [begin, end), kept until takeFromRun; an empty run is end of file.
[[nodiscard]] uint32_t readRun(int32_t timeoutMs, uint32_t& readLen) noexcept;

[[nodiscard]] inline const uint8_t* runBegin() noexcept {
    return gLineInput.bytes + gLineInput.begin;
}
[[nodiscard]] inline const uint8_t* runEnd() noexcept {
    return gLineInput.bytes + gLineInput.end;
}

// Marks the bytes of the run before next as handed on.
inline void takeFromRun(const uint8_t* next) noexcept {
    gLineInput.begin = static_cast<uint16_t>(next - gLineInput.bytes);
}

// Forgets the buffered bytes: the descriptor they came from is new or gone.
inline void dropBufferedInput() noexcept {
    gLineInput.begin = 0;
    gLineInput.end = 0;
}

}  // namespace vyr::dev
