// One framed sentence as the NMEA callback hands it to the tool: whether it
// may be used at all (its checksum), what kind it is, and its raw fields for
// the few things the library's records do not carry (every digit of a
// coordinate, whether a field was empty, the NMEA 4.10 system and signal ids).
// The values themselves come from the library's exported parsers.
#pragma once

#include <time.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vyr::tool {

// When the NMEA callback had a sentence: the system clock (for time
// consumers) and the steady clock (for the pauses between the receiver's
// bursts).
struct Arrival {
    timespec realtime{};
    std::chrono::steady_clock::time_point steady{};
};

[[nodiscard]] Arrival arrivalNow();

// A sentence from the NMEA callback.
struct SentenceEvent {
    std::string text;  // as framed: from "$", without the line end
    Arrival arrival;
};

enum class SentenceType { Rmc, Gga, Gsa, Gsv, Gst, Other };

// The type of a "$" sentence from its formatter letters; proprietary ("$P")
// and anything else is Other.
[[nodiscard]] SentenceType sentenceType(std::string_view sentence);
// The two talker letters ("GP", "GL", "GN", ...), empty for none.
[[nodiscard]] std::string_view talkerOf(std::string_view sentence);

// The comma-separated fields up to the checksum's "*": [0] is "$GPRMC".
// A field past the last one reads as empty.
class Fields {
public:
    explicit Fields(std::string_view sentence);
    [[nodiscard]] size_t size() const { return count_; }
    [[nodiscard]] std::string_view operator[](size_t index) const {
        return index < count_ ? fields_[index] : std::string_view();
    }

private:
    static constexpr size_t kMaxFields = 32;  // a GSV with four satellites has 21
    std::array<std::string_view, kMaxFields> fields_{};
    size_t count_ = 0;
};

// Which sentences the tool may use. Every sentence is checked with the public
// header's checksum helper. A sentence without a checksum is taken only while
// the line has never sent a good one: some old receivers send none, but once a
// receiver has, a sentence without one is a fragment of a damaged line (a "$"
// or a line end flipped into it).
class ChecksumGate {
public:
    [[nodiscard]] bool pass(std::string_view sentence);
    // Another line (a receiver plugged in again): it may send no checksums.
    // The counts go on.
    void newLine() { lineSendsChecksums_ = false; }
    [[nodiscard]] uint64_t failed() const { return failed_; }
    [[nodiscard]] uint64_t checked() const { return checked_; }

private:
    bool lineSendsChecksums_ = false;
    uint64_t failed_ = 0;
    uint64_t checked_ = 0;
};

}  // namespace vyr::tool
