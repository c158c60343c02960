// A time sample: the instant a fix (or a pulse) names, paired with what the
// system clock read at that instant. Everything that gives time to the
// system (chrony's socket, the NTP shared memory, the TOFF and PPS reports)
// is built from one of these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

#include "fix.h"
#include "refclock_layouts.h"

namespace vyr::tool {

// Precision (log2 seconds) of a sample from the sentences alone: their
// timing wanders with the receiver's output delay, by tens to hundreds of
// milliseconds between receivers; the clients' protocol assumes -2 for it.
inline constexpr int kSentencePrecision = -2;
// A pulse timestamped by the kernel: about a microsecond.
inline constexpr int kPulsePrecision = -20;

// The bytes a sentence occupies on the line beyond what the NMEA callback
// hands over (the CR LF that ends it).
inline constexpr size_t kLineEndBytes = 2;
inline constexpr int kDefaultBaud = 9600;

struct TimeSample {
    timespec real;   // UTC the receiver names (the fix's time or the pulse's second)
    timespec clock;  // CLOCK_REALTIME at that instant, as measured
    int precision;   // log2 seconds
};

// real minus clock, in seconds (computed without losing the nanoseconds).
[[nodiscard]] double offsetSeconds(const TimeSample& sample);

// The sample of an epoch: fixTime is the fix's UTC time, callbackClock the
// CLOCK_REALTIME read in the NMEA callback of the epoch's first sentence,
// sentenceBytes that sentence's length as sent (the callback's length plus
// kLineEndBytes). The callback runs once the sentence's last byte is in, so
// the clock is taken back by the sentence's time on the line (10 bits a
// byte at baud), to when the receiver began the second's output. What
// remains is the receiver's own delay between the top of the second and its
// first byte, a constant per receiver that chrony's "offset" corrects.
[[nodiscard]] TimeSample sentenceTimeSample(const timespec& fixTime, const timespec& callbackClock,
                                            size_t sentenceBytes, int baud = kDefaultBaud);

// The fix's time as an instant; none for a time without a date.
[[nodiscard]] std::optional<timespec> fixInstant(const UtcTime& time);

// The datagram for chrony's SOCK refclock. leap is always 0: the sentences
// carry no leap-second warning. A pulse sample (for a refclock that chrony
// locks to the one of the sentences) carries where in the system clock's
// second the pulse fell, system clock minus reference, as chrony reads it;
// chrony takes the whole seconds from the locked source.
[[nodiscard]] SockSample sockSample(const TimeSample& sample, bool pulse);

}  // namespace vyr::tool
