// Totals of a run, printed at its end: bytes, sentences, fixes, the records
// that mixed two seconds, the sentences that ended up in no delivered fix,
// the time covered and the distance travelled.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "fix.h"

namespace vyr::tool {

// True for the position sentences that open an epoch in the library's
// collector ($GPGGA, $GNGGA, $BDGGA).
[[nodiscard]] bool opensEpoch(std::string_view sentence);

// Sentences held in an epoch's raw set.
[[nodiscard]] int sentencesIn(const GpsRawData& raw);

class Summary {
public:
    // One delivered fix, in the order of delivery.
    void add(const Fix& fix, int sentencesInFix);

    // Counts taken from the sentence callback.
    struct Input {
        uint64_t bytes = 0;
        uint64_t sentences = 0;
        uint64_t epochsOpened = 0;
    };
    void print(std::FILE* out, bool json, const Input& input) const;

    [[nodiscard]] uint64_t fixes() const { return fixes_; }
    [[nodiscard]] uint64_t backwards() const { return backwards_; }
    [[nodiscard]] double forwardSeconds() const { return forwardSeconds_; }

private:
    uint64_t fixes_ = 0;
    uint64_t validFixes_ = 0;
    uint64_t mixed_ = 0;
    uint64_t sentencesInFixes_ = 0;
    std::optional<UtcTime> first_, last_;
    double forwardSeconds_ = 0.0;  // sum of the steps where time went forward
    uint64_t backwards_ = 0;       // steps where it went back
    double distanceMetres_ = 0.0;
    std::optional<Fix> lastPosition_;
};

}  // namespace vyr::tool
