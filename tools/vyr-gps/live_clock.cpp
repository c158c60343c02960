#include "live_clock.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include "tool_error.h"

namespace vyr::tool {

namespace {

// Where the time and date fields sit in each sentence that has them
// (0: none). Field 0 is the address.
struct TimeFields {
    const char* type;
    int time, rmcDate, zdaDay;
};
constexpr TimeFields kTimeFields[] = {
    {"RMC", 1, 9, 0}, {"GGA", 1, 0, 0}, {"GLL", 5, 0, 0}, {"ZDA", 1, 0, 2}, {"GST", 1, 0, 0}};

// The sentence in a line: from its last "$" up to the line end.
struct Parts {
    std::string_view prefix, sentence, end;
};

Parts partsOf(std::string_view line) {
    const size_t dollar = line.rfind('$');
    if (dollar == std::string_view::npos) {
        return {line, {}, {}};
    }
    size_t stop = line.size();
    while (stop > dollar && (line[stop - 1] == '\r' || line[stop - 1] == '\n')) {
        --stop;
    }
    return {line.substr(0, dollar), line.substr(dollar, stop - dollar), line.substr(stop)};
}

const TimeFields* timeFieldsOf(std::string_view sentence) {
    const size_t comma = sentence.find(',');
    if (comma != 6 || sentence[1] == 'P') {  // "$ttSSS," only; proprietary sentences differ
        return nullptr;
    }
    for (const TimeFields& fields : kTimeFields) {
        if (sentence.substr(3, 3) == fields.type) {
            return &fields;
        }
    }
    return nullptr;
}

std::vector<std::string> splitFields(std::string_view body) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t i = 0; i <= body.size(); ++i) {
        if (i == body.size() || body[i] == ',') {
            fields.emplace_back(body.substr(start, i - start));
            start = i + 1;
        }
    }
    return fields;
}

// The time field's text, empty for sentences without one.
std::string_view timeText(std::string_view sentence) {
    const TimeFields* where = timeFieldsOf(sentence);
    if (where == nullptr) {
        return {};
    }
    size_t start = 0;
    for (int field = 0; field < where->time; ++field) {
        start = sentence.find(',', start);
        if (start == std::string_view::npos) {
            return {};
        }
        ++start;
    }
    const size_t end = sentence.find_first_of(",*", start);
    return sentence.substr(start, end == std::string_view::npos ? end : end - start);
}

void setDigits(std::string& field, size_t at, const char* digits) {
    for (size_t i = 0; digits[i] != '\0' && at + i < field.size(); ++i) {
        field[at + i] = digits[i];
    }
}

unsigned xorSum(std::string_view body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    return sum;
}

// CLOCK_REALTIME as seconds since 1970.
double wallNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Sleeps until the wall clock reaches second (true), or keepGoing() says no.
bool sleepUntilSecond(int64_t second, const std::function<bool()>& keepGoing) {
    while (keepGoing()) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        if (now.tv_sec >= second) {
            return true;
        }
        // Slices of at most 100 ms keep a stop request answered promptly.
        const int64_t wake = std::min(int64_t{now.tv_sec} * 1000000000 + now.tv_nsec + 100000000,
                                      second * 1000000000);
        const timespec until{static_cast<time_t>(wake / 1000000000),
                             static_cast<long>(wake % 1000000000)};
        clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr);
    }
    return false;
}

// Every line of an epoch rewritten to second.
std::string rewriteEpoch(const std::string& epoch, int64_t second) {
    std::string out;
    size_t start = 0;
    while (start < epoch.size()) {
        const size_t newline = epoch.find('\n', start);
        const size_t end = newline == std::string::npos ? epoch.size() : newline + 1;
        out += rewriteTime(std::string_view(epoch).substr(start, end - start), second);
        start = end;
    }
    return out;
}

}  // namespace

void checkLiveClockPace(const Pace& pace) {
    if (pace.fast || pace.speed != 1.0) {
        throw ToolError(
            "--now writes each second's sentences when that second comes, so it runs only at "
            "the line's own pace: leave out --speed and --fast (or give --speed 1)");
    }
}

std::string rewriteTime(std::string_view line, int64_t utcSecond) {
    const Parts parts = partsOf(line);
    const TimeFields* where = timeFieldsOf(parts.sentence);
    const int verdict =
        VYR_GPS_NmeaChecksum(parts.sentence.data(), static_cast<uint32_t>(parts.sentence.size()));
    const size_t star = parts.sentence.rfind('*');
    // A malformed checksum is left as it is, and with it the whole sentence.
    const bool malformed = verdict == VYR_GPS_CHECKSUM_BAD &&
                           (parts.sentence.size() - star != 3 ||
                            !std::isxdigit(static_cast<unsigned char>(parts.sentence[star + 1])) ||
                            !std::isxdigit(static_cast<unsigned char>(parts.sentence[star + 2])));
    if (where == nullptr || malformed) {
        return std::string(line);
    }
    const std::string_view body = parts.sentence.substr(
        1, verdict == VYR_GPS_CHECKSUM_ABSENT ? std::string_view::npos : star - 1);
    std::vector<std::string> fields = splitFields(body);
    const time_t seconds = static_cast<time_t>(utcSecond);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const auto at = [&fields](int index) -> std::string* {
        return index > 0 && static_cast<size_t>(index) < fields.size() && !fields[index].empty()
                   ? &fields[index]
                   : nullptr;
    };
    if (std::string* time = at(where->time)) {
        std::snprintf(text, sizeof text, "%02d%02d%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
        setDigits(*time, 0, text);
        const size_t point = time->find('.');
        if (point != std::string::npos) {
            std::fill(time->begin() + static_cast<std::ptrdiff_t>(point) + 1, time->end(), '0');
        }
    }
    if (std::string* date = at(where->rmcDate)) {
        std::snprintf(text, sizeof text, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1,
                      utc.tm_year % 100);
        setDigits(*date, 0, text);
    }
    if (where->zdaDay > 0) {
        const int parts3[] = {utc.tm_mday, utc.tm_mon + 1, utc.tm_year + 1900};
        for (int i = 0; i < 3; ++i) {
            if (std::string* field = at(where->zdaDay + i)) {
                std::snprintf(text, sizeof text, i < 2 ? "%02d" : "%04d", parts3[i]);
                *field = text;
            }
        }
    }
    std::string newBody;
    for (size_t i = 0; i < fields.size(); ++i) {
        newBody += (i == 0 ? "" : ",") + fields[i];
    }
    std::string out(parts.prefix);
    out += '$';
    out += newBody;
    if (verdict != VYR_GPS_CHECKSUM_ABSENT) {
        // The mismatch the sentence had (0 for a good one) is carried over.
        const unsigned sent = static_cast<unsigned>(
            std::stoul(std::string(parts.sentence.substr(star + 1, 2)), nullptr, 16));
        const unsigned mismatch = sent ^ xorSum(body);
        std::snprintf(text, sizeof text, "*%02X", xorSum(newBody) ^ mismatch);
        out += text;
    }
    out += parts.end;
    return out;
}

Epochs splitEpochs(const std::vector<char>& data) {
    Epochs result;
    std::string current;  // time text of the epoch being collected
    size_t start = 0;
    while (start < data.size()) {
        const auto newline =
            std::find(data.begin() + static_cast<std::ptrdiff_t>(start), data.end(), '\n');
        const size_t end =
            newline == data.end() ? data.size() : static_cast<size_t>(newline - data.begin()) + 1;
        const std::string_view line(data.data() + start, end - start);
        const std::string_view time = timeText(partsOf(line).sentence);
        if (!time.empty() && (result.epochs.empty() || time != current)) {
            result.epochs.emplace_back();
            current = time;
        }
        (result.epochs.empty() ? result.lead : result.epochs.back()).append(line);
        start = end;
    }
    return result;
}

size_t feedLiveClock(PtyLine& line, const std::vector<char>& data, const Pace& pace,
                     const std::function<bool()>& keepGoing,
                     const std::function<void(size_t)>& progress) {
    checkLiveClockPace(pace);
    const Epochs capture = splitEpochs(data);
    size_t written = 0;
    // Writes bytes at the line's rate from begin (seconds since 1970).
    const auto writePaced = [&](const std::string& bytes, double begin) {
        constexpr size_t kChunk = 256;
        size_t done = 0;
        while (done < bytes.size() && keepGoing()) {
            const double elapsed = std::max(0.0, wallNow() - begin);
            const auto due = static_cast<size_t>(elapsed * kLineBytesPerSecond) + 1;
            if (due <= done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            const size_t count = std::min({kChunk, due - done, bytes.size() - done});
            if (!line.write(bytes.data() + done, count, keepGoing)) {
                return false;
            }
            done += count;
            written += count;
            progress(written);
        }
        return done == bytes.size();
    };
    if (!writePaced(capture.lead, wallNow())) {
        return written;
    }
    for (size_t next = 0; keepGoing() && !capture.epochs.empty(); ++next) {
        if (next == capture.epochs.size()) {
            if (!pace.loop) {
                break;
            }
            next = 0;
        }
        // The next top of a second that is still to come.
        const auto second = static_cast<int64_t>(std::floor(wallNow())) + 1;
        if (!sleepUntilSecond(second, keepGoing) ||
            !writePaced(rewriteEpoch(capture.epochs[next], second), static_cast<double>(second))) {
            break;
        }
    }
    return written;
}

}  // namespace vyr::tool
