#include "time_sample.h"

namespace vyr::tool {

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

int64_t nanos(const timespec& t) {
    return int64_t{t.tv_sec} * kNanosPerSecond + t.tv_nsec;
}

timespec fromNanos(int64_t n) {
    int64_t seconds = n / kNanosPerSecond;
    int64_t rest = n % kNanosPerSecond;
    if (rest < 0) {
        rest += kNanosPerSecond;
        --seconds;
    }
    timespec t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>(rest);
    return t;
}

}  // namespace

double offsetSeconds(const TimeSample& sample) {
    // Whole seconds and nanoseconds apart: a double of the full count of
    // nanoseconds since 1970 would keep only about a quarter microsecond.
    return static_cast<double>(sample.real.tv_sec - sample.clock.tv_sec) +
           static_cast<double>(sample.real.tv_nsec - sample.clock.tv_nsec) * 1e-9;
}

TimeSample sentenceTimeSample(const timespec& fixTime, const timespec& callbackClock,
                              size_t sentenceBytes, int baud) {
    const int64_t onTheLine =
        static_cast<int64_t>(sentenceBytes) * 10 * kNanosPerSecond / (baud > 0 ? baud : 1);
    return {fixTime, fromNanos(nanos(callbackClock) - onTheLine), kSentencePrecision};
}

std::optional<timespec> fixInstant(const UtcTime& time) {
    if (time.year == 0) {
        return std::nullopt;
    }
    std::tm civil{};
    civil.tm_year = time.year - 1900;
    civil.tm_mon = time.month - 1;
    civil.tm_mday = time.day;
    civil.tm_hour = time.hour;
    civil.tm_min = time.minute;
    civil.tm_sec = time.second;
    timespec t{};
    t.tv_sec = timegm(&civil);
    t.tv_nsec = static_cast<long>(time.microsecond) * 1000;
    return t;
}

SockSample sockSample(const TimeSample& sample, bool pulse) {
    SockSample out{};
    out.tv.tv_sec = sample.clock.tv_sec;
    out.tv.tv_usec = static_cast<suseconds_t>(sample.clock.tv_nsec / 1000);
    // Relative to the microseconds sent, so that tv + offset is the
    // reference time to the nanosecond. chrony reads a pulse's offset the
    // other way round: where in the system clock's second the pulse fell.
    const TimeSample sent{sample.real, {sample.clock.tv_sec, out.tv.tv_usec * 1000L}, 0};
    out.offset = pulse ? -offsetSeconds(sent) : offsetSeconds(sent);
    out.pulse = pulse ? 1 : 0;
    out.leap = 0;
    out.magic = kSockMagic;
    return out;
}

}  // namespace vyr::tool
