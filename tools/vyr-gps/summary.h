// Totals of a run, printed at its end: bytes, sentences and those that failed
// their checksum, the fixes presented and those held back, the library's own
// records (with those that mixed two seconds and the sentences that ended up
// in none), the time covered and the distance travelled.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "assembler.h"
#include "library.h"

namespace vyr::tool {

// True for the position sentences that open an epoch in the library's
// collector ($GPGGA, $GNGGA, $BDGGA).
[[nodiscard]] bool opensEpoch(std::string_view sentence);

// Sentences held in an epoch's raw set.
[[nodiscard]] int sentencesIn(const GpsRawData& raw);

class Summary {
public:
    // One record the library delivered, in the order of delivery.
    void addRecord(const EpochCopy& record);
    // One presented fix, in order; one epoch the assembler closed.
    void addFix(const Fix& fix);
    void addEpochEnd(const EpochEnd& end) { heldBack_ += end.heldBack ? 1 : 0; }

    // Counts taken from the sentence callback and the checksum gate.
    struct Input {
        uint64_t bytes = 0;
        uint64_t sentences = 0;
        uint64_t epochsOpened = 0;
        uint64_t badChecksums = 0;
    };
    void print(std::FILE* out, bool json, const Input& input) const;

    [[nodiscard]] uint64_t fixes() const { return fixes_; }
    [[nodiscard]] uint64_t backwards() const { return backwards_; }
    [[nodiscard]] double forwardSeconds() const { return forwardSeconds_; }

private:
    uint64_t records_ = 0;
    uint64_t mixed_ = 0;
    uint64_t sentencesInRecords_ = 0;
    uint64_t fixes_ = 0;
    uint64_t validFixes_ = 0;
    uint64_t heldBack_ = 0;
    std::optional<UtcTime> first_, last_;
    double forwardSeconds_ = 0.0;  // sum of the steps where time went forward
    uint64_t backwards_ = 0;       // steps where it went back
    double distanceMetres_ = 0.0;
    std::optional<Fix> lastPosition_;
};

}  // namespace vyr::tool
