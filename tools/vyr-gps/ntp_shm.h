// Time samples into the NTP shared-memory segment of one unit, which
// chrony's "refclock SHM UNIT" and ntpd's shared-memory driver read. The
// segment (System V key kShmKeyBase + unit) is created if the reader has not
// created it yet: units 0 and 1 readable by root only (0600), higher units by
// anyone (0666), as those readers expect. Each write uses the mode-1
// handshake: count is raised before and after the sample, so a reader that
// copied it half-way sees count move and drops the copy; valid says a new
// sample is there and is cleared by the reader.
#pragma once

#include <string>

#include "time_sample.h"

namespace vyr::tool {

class NtpShm {
public:
    // ToolError when the segment cannot be created or attached (a segment
    // of another size under the key, or no permission).
    explicit NtpShm(int unit);
    ~NtpShm();
    NtpShm(const NtpShm&) = delete;
    NtpShm& operator=(const NtpShm&) = delete;

    // One thread at a time.
    void write(const TimeSample& sample);

    [[nodiscard]] int unit() const { return unit_; }
    // "NTP<unit>", as the clients' PPS report names it.
    [[nodiscard]] std::string name() const { return "NTP" + std::to_string(unit_); }

private:
    int unit_;
    volatile ShmTime* segment_ = nullptr;
};

}  // namespace vyr::tool
