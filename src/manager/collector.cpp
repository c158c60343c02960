// Epoch collector and dispatch, on the reader thread.
//
// Each sentence is classified by the first group (GGA, GSA, RMC, GPS GSV,
// BeiDou GSV) whose name occurs anywhere in its text, stored into its slot of
// the raw set and the epoch is dispatched as soon as its completion mask is
// set. The reader holds mngLock throughout, so the data callbacks run under
// the same hold as the sentence's NMEA callbacks. Stores into the raw set, the
// parse and the clearing are made under recordLock so that pull copies on
// other threads always see one whole state; the collection header is touched
// only by the reader thread.
#include "manager/collector.h"

#include <cstddef>
#include <cstring>

#include "common/char_class.h"
#include "common/log.h"
#include "common/mutex_guard.h"
#include "manager/gps_manager.h"
#include "manager/registry.h"
#include "nmea/parsers.h"
#include "nmea/scanner.h"

namespace vyr::mng {

namespace {

constexpr size_t kMaxSentenceChars = VYR_GPS_SENTENCE_SIZE - 1;
constexpr int32_t kMaxGsvMessages = 4;

// Sentence groups in the order they are tried; a lower value wins when the
// text holds names of several groups.
enum class Group : uint8_t { Gga = 1, Gsa, Rmc, GpGsv, BdGsv, None };

// Group of the five-letter name starting at the "G" at g, or None: GNGGA
// GPGGA | GPGSA GNGSA | GNRMC GPRMC | GPGSV. Compares stop at the first
// mismatch, and a NUL never matches, so nothing past the end of the text is
// read.
constexpr Group groupOfGName(const char* g) noexcept {
    const char talker = g[1];
    if (talker != 'N' && talker != 'P') {
        return Group::None;
    }
    if (g[2] == 'G') {
        if (g[3] == 'G') {
            return g[4] == 'A' ? Group::Gga : Group::None;
        }
        if (g[3] == 'S') {
            if (g[4] == 'A') {
                return Group::Gsa;
            }
            if (g[4] == 'V' && talker == 'P') {
                return Group::GpGsv;
            }
        }
        return Group::None;
    }
    return (g[2] == 'R' && g[3] == 'M' && g[4] == 'C') ? Group::Rmc : Group::None;
}

// Group of the BeiDou name whose "BD" stands before the "G" at g: BDGGA |
// BDGSV.
constexpr Group groupOfBdName(const char* g) noexcept {
    if (g[1] == 'G' && g[2] == 'A') {
        return Group::Gga;
    }
    return (g[1] == 'S' && g[2] == 'V') ? Group::BdGsv : Group::None;
}

struct Classified {
    Group group;
    size_t length;
};

// One pass over the text: every name holds a "G" (the BeiDou names at their
// third letter), so only the places of "G" need a closer look. The C library's
// strchrnul stops at each "G" and finally at the NUL, in wide steps, so each
// character is read once and the last stop gives the length. The lowest group
// found anywhere wins, exactly as searching the names group by group would
// decide.
Classified classify(const char* text) noexcept {
    Group best = Group::None;
    const char* p = strchrnul(text, 'G');
    for (; *p != '\0'; p = strchrnul(p + 1, 'G')) {
        if (best == Group::Gga) continue;  // nothing beats it; only the length is still open
        Group group = groupOfGName(p);
        if (p - text >= 2 && p[-2] == 'B' && p[-1] == 'D') {
            const Group beidou = groupOfBdName(p);
            group = beidou < group ? beidou : group;
        }
        best = group < best ? group : best;
    }
    return {best, static_cast<size_t>(p - text)};
}

// Copies at most 179 characters and a NUL into a slot, as a formatted copy
// bounded by the slot size would; the rest of the slot is left as it is.
void storeSentence(char* slot, const char* sentence, size_t length) noexcept {
    const size_t count = length < kMaxSentenceChars ? length : kMaxSentenceChars;
    MutexGuard lock(manager().recordLock);
    std::memcpy(slot, sentence, count);
    slot[count] = '\0';
}

// Reads one counter the way "%d" reads it (leading white space, an optional
// sign, at least one digit), the value clamped to the 32-bit range as the
// device's C library, whose long has 32 bits, clamps it. Advances text past
// what it read; false when no digit follows.
bool readCounter(const char*& text, int32_t& out) noexcept {
    const char* p = text;
    while (chars::isCSpace(*p)) {
        ++p;
    }
    p = nmea::field::readInteger(p, &out);
    if (p == nullptr) {
        return false;
    }
    text = p;
    return true;
}

struct GsvCounters {
    int32_t total = 0;
    int32_t number = 0;
};

constexpr size_t kGsvPrefixLength = 7;  // "$GPGSV," or "$BDGSV,"

// sscanf(text, "$GPGSV,%d,%d,", &total, &number) (or the BeiDou prefix) with
// the values clamped to 32 bits: the prefix must stand at the start of the
// text; a value that is not converted stays 0. The trailing comma decides
// nothing about the values.
GsvCounters readGsvCounters(const char* text, size_t length,
                            const char (&prefix)[kGsvPrefixLength + 1]) noexcept {
    GsvCounters counters;
    // The text has at least seven characters: the prefix is compared as two
    // overlapping four-byte words.
    uint32_t head[2];
    uint32_t expected[2];
    if (length < kGsvPrefixLength) {
        return counters;
    }
    std::memcpy(&head[0], text, 4);
    std::memcpy(&head[1], text + 3, 4);
    std::memcpy(&expected[0], prefix, 4);
    std::memcpy(&expected[1], prefix + 3, 4);
    if (head[0] != expected[0] || head[1] != expected[1]) {
        return counters;
    }
    const char* p = text + kGsvPrefixLength;
    // The usual text: a one-digit total, a comma and a one-digit number that
    // no other digit follows. Each character is read only once the one
    // before it is known not to be the NUL.
    const uint32_t total = static_cast<uint8_t>(p[0]) - uint32_t{'0'};
    if (total <= 9 && p[1] == ',') {
        const uint32_t number = static_cast<uint8_t>(p[2]) - uint32_t{'0'};
        if (number <= 9 && !chars::isDigit(p[3])) {
            return {static_cast<int32_t>(total), static_cast<int32_t>(number)};
        }
    }
    if (readCounter(p, counters.total) && *p == ',') {
        ++p;
        (void)readCounter(p, counters.number);
    }
    return counters;
}

constexpr char kGpGsvPrefix[kGsvPrefixLength + 1] = "$GPGSV,";
constexpr char kBdGsvPrefix[kGsvPrefixLength + 1] = "$BDGSV,";

}  // namespace

int32_t GPSPARSER_MsgProc(const char* sentence) noexcept {
    GpsManager& mng = manager();
    GpsRawHeader& header = mng.rawHeader;
    GpsRawData& raw = mng.gpsRawData;
    const Classified input = classify(sentence);
    const Group group = input.group;

    if (group == Group::BdGsv) {
        if (mng.bdSupported == 0) {
            VYR_LOG_WAR("SupportBD!\n");
        }
        mng.bdSupported = 1;
    }
    // A GGA opens the epoch; every other group is stored only into an open one.
    if (group == Group::Gga || (group != Group::None && (header.flags & kFlagGga) != 0)) {
        char* slot = nullptr;
        uint32_t flag = 0;
        switch (group) {
            case Group::Gga:
                slot = raw.ggaStr;
                flag = kFlagGga;
                break;
            case Group::Gsa:
                slot = raw.gsaStr[(header.flags & kFlagGsa) == 0 ? 0 : 1];
                flag = kFlagGsa;
                break;
            case Group::Rmc:
                slot = raw.rmcStr;
                flag = kFlagRmc;
                break;
            default: {
                // GSV of either series. Message numbers outside 1..4 are
                // dropped; the series completes at the sentence whose number
                // equals the announced total (capped at 4).
                const bool beidou = group == Group::BdGsv;
                const GsvCounters counters =
                    readGsvCounters(sentence, input.length, beidou ? kBdGsvPrefix : kGpGsvPrefix);
                if (counters.number < 1 || counters.number > kMaxGsvMessages) {
                    break;
                }
                int32_t& total = beidou ? header.bdGsvTotal : header.gpGsvTotal;
                int32_t& number = beidou ? header.bdGsvNum : header.gpGsvNum;
                number = counters.number;
                total = counters.total >= kMaxGsvMessages ? kMaxGsvMessages : counters.total;
                slot = (beidou ? raw.bdGsvStr : raw.gpGsvStr)[number - 1];
                if (total == number) {
                    flag = beidou ? kFlagBdGsvComplete : kFlagGpGsvComplete;
                }
                break;
            }
        }
        if (slot != nullptr) {
            storeSentence(slot, sentence, input.length);
            header.flags |= flag;
        }
    }

    const uint32_t mask = mng.bdSupported != 0 ? kCompleteMaskGpsBd : kCompleteMaskGps;
    if ((header.flags & mask) == mask) {
        GPS_DataProc();
    }
    return 0;
}

int32_t GPS_DataProc() noexcept {
    GpsManager& mng = manager();
    int32_t parseResult = 0;
    {
        MutexGuard record(mng.recordLock);
        parseResult = nmea::GPSPARSER_ParseRawData(&mng.gpsRawData, &mng.msgPacket);
    }
    if (parseResult != 0) {
        VYR_LOG_ERR("Parser GPS Raw data failed!\n");
    }
    invokeDataCallbacksLocked(&mng.msgPacket);
    MutexGuard record(mng.recordLock);
    mng.rawHeader = GpsRawHeader{};
    std::memset(&mng.gpsRawData, 0, sizeof(mng.gpsRawData));
    return 0;
}

}  // namespace vyr::mng

// A text operation for callers that want GPS talker names on the position
// sentences; the library itself never calls it.
extern "C" void VyrReplaceGNToGP(char* text) {
    if (text == nullptr) {
        return;
    }
    char* const gga = std::strstr(text, "GNGGA");
    char* const rmc = std::strstr(text, "GNRMC");
    if (gga != nullptr) {
        gga[1] = 'P';
    }
    if (rmc != nullptr) {
        rmc[1] = 'P';
    }
}
