// A capture replayed as a live clock: each epoch's time and date fields are
// rewritten to the current UTC second and its first byte is written at the
// top of that second, as a receiver sends its output, so that the time it
// shows is the time it is. The bytes of an epoch go out at the line's rate;
// an epoch longer than a second starts the next one at the following second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture.h"

namespace vyr::tool {

// ToolError unless the pace is the line's own (--speed 1, not --fast): a
// clock that runs at another rate is no clock.
void checkLiveClockPace(const Pace& pace);

// One line of a capture (from its last "$" up to the line end, which is
// kept) with the time and date fields of RMC, GGA, GLL, ZDA and GST set to
// utcSecond (seconds since 1970): hhmmss and, where the sentence has them,
// the date; fractions of the second become zeros of the same width. Empty
// fields stay empty. The checksum is recomputed; a sentence whose checksum
// did not match keeps the same mismatch, so that a damaged sentence is not
// made whole. Other lines are returned as they are.
[[nodiscard]] std::string rewriteTime(std::string_view line, int64_t utcSecond);

// The capture cut into what comes before the first timed sentence and one
// piece per epoch: a sentence whose time differs from the one before starts
// an epoch; sentences without a time belong to the epoch they follow.
struct Epochs {
    std::string lead;
    std::vector<std::string> epochs;
};
[[nodiscard]] Epochs splitEpochs(const std::vector<char>& data);

// Writes the capture into the line as a live clock until it ends (never,
// with loop) or keepGoing() says no; progress(bytes) after each chunk.
// Returns the bytes written. ToolError for a pace other than the line's.
size_t feedLiveClock(PtyLine& line, const std::vector<char>& data, const Pace& pace,
                     const std::function<bool()>& keepGoing,
                     const std::function<void(size_t)>& progress);

}  // namespace vyr::tool
