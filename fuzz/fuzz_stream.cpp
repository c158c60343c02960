// The reader thread's path without the device: arbitrary bytes go through the
// framer, one by one and in runs of several lengths mixed; every sentence it
// ends is handed on as the reader does (handOnSentence: the NMEA callbacks,
// then the collector). Checked
// against two models written from the framing table and the collection rules
// (name searches group by group, "%d,%d" counters clamped to 32 bits, bounded
// formatted copies):
//  - the framer hands on exactly the model's sentences, each beginning with
//    "$", free of CR and LF, 1 to 179 characters, zero-terminated;
//  - the NMEA callback sees each of them once, with its length;
//  - after every sentence the collection header, the twelve slots and the
//    BeiDou flag equal the model's, and epochs are delivered exactly when the
//    model completes one;
//  - a delivered record has gsa[1] and bdGsv zero and 0/1 usedInFix marks.
#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "fuzz_support.h"
#include "manager/framer_run.h"
#include "manager/gps_manager.h"
#include "manager/reader_thread.h"

namespace {

using vyr::mng::GpsRawHeader;

// --- Framing model ------------------------------------------------------
struct FramerModel {
    char buf[VYR_GPS_SENTENCE_SIZE] = {};
    int len = 0;
    bool collecting = false;

    // true when the byte ends a sentence.
    bool feed(uint8_t b) {
        const bool lineEnd = b == '\r' || b == '\n';
        if (!collecting) {
            if (b == '$') start();
            return false;
        }
        if (lineEnd) {
            collecting = false;
            return true;
        }
        if (len >= 179) return false;
        if (b == '$') {
            start();
        } else {
            buf[len++] = static_cast<char>(b);
        }
        return false;
    }
    void start() {
        std::memset(buf, 0, sizeof(buf));
        buf[0] = '$';
        len = 1;
        collecting = true;
    }
};

// --- Collection model ---------------------------------------------------
struct CollectorModel {
    GpsRawHeader header{};
    GpsRawData raw{};
    uint32_t bdSupported = 0;
    int deliveries = 0;

    static bool has(const char* s, const char* name) { return std::strstr(s, name) != nullptr; }
    static void store(char* slot, const char* s) {
        std::snprintf(slot, VYR_GPS_SENTENCE_SIZE, "%s", s);
    }
    void gsv(const char* s, bool beidou, int32_t& total, int32_t& number,
             char (&slots)[4][VYR_GPS_SENTENCE_SIZE], uint32_t bit) {
        // "%d" as the device's C library reads it: clamped to 32 bits. Read
        // through long long, so that the host's long plays no part.
        long long t64 = 0;
        long long n64 = 0;
        if (beidou) {
            (void)std::sscanf(s, "$BDGSV,%lld,%lld,", &t64, &n64);
        } else {
            (void)std::sscanf(s, "$GPGSV,%lld,%lld,", &t64, &n64);
        }
        const int t = static_cast<int>(std::clamp<long long>(t64, INT32_MIN, INT32_MAX));
        const int n = static_cast<int>(std::clamp<long long>(n64, INT32_MIN, INT32_MAX));
        if (n < 1 || n > 4) return;
        number = n;
        total = t >= 4 ? 4 : t;
        store(slots[n - 1], s);
        if (total == number) header.flags |= bit;
    }
    void proc(const char* s) {
        const bool open = (header.flags & 1) != 0;
        if (has(s, "GNGGA") || has(s, "BDGGA") || has(s, "GPGGA")) {
            store(raw.ggaStr, s);
            header.flags |= 1;
        } else if (has(s, "GPGSA") || has(s, "GNGSA")) {
            if (open) {
                store(raw.gsaStr[(header.flags & 2) ? 1 : 0], s);
                header.flags |= 2;
            }
        } else if (has(s, "GNRMC") || has(s, "GPRMC")) {
            if (open) {
                store(raw.rmcStr, s);
                header.flags |= 4;
            }
        } else if (has(s, "GPGSV")) {
            if (open) gsv(s, false, header.gpGsvTotal, header.gpGsvNum, raw.gpGsvStr, 16);
        } else if (has(s, "BDGSV")) {
            bdSupported = 1;
            if (open) gsv(s, true, header.bdGsvTotal, header.bdGsvNum, raw.bdGsvStr, 32);
        }
        const uint32_t mask = bdSupported ? 55 : 23;
        if ((header.flags & mask) == mask) {
            ++deliveries;
            header = GpsRawHeader{};
            std::memset(&raw, 0, sizeof(raw));
        }
    }
};

// --- Callbacks ----------------------------------------------------------
struct Expectation {
    const char* sentence = nullptr;
    uint32_t length = 0;
    int nmeaCalls = 0;
    int dataCalls = 0;
};
Expectation gExpect;

void onSentence(const char* sentence, uint32_t len, void* user) {
    FUZZ_CHECK(user == &gExpect, "NMEA callback got another userData");
    FUZZ_CHECK(sentence == gExpect.sentence && len == gExpect.length,
               "NMEA callback got another sentence or length (%u, want %u)", len, gExpect.length);
    ++gExpect.nmeaCalls;
}

void onRecord(const GpsMsgPacket* record, void* user) {
    FUZZ_CHECK(user == &gExpect, "data callback got another userData");
    static const GpsGsa kZeroGsa{};
    static const GpsGsv kZeroGsv[4]{};
    FUZZ_CHECK(std::memcmp(&record->gsa[1], &kZeroGsa, sizeof(kZeroGsa)) == 0,
               "gsa[1] is not zero");
    FUZZ_CHECK(std::memcmp(record->bdGsv, kZeroGsv, sizeof(kZeroGsv)) == 0, "bdGsv is not zero");
    for (const GpsGsv& gsv : record->gpGsv) {
        for (const GpsSatInfo& sat : gsv.satellites) FUZZ_CHECK(sat.usedInFix <= 1, "usedInFix");
    }
    ++gExpect.dataCalls;
}

void registerOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    const GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), &gExpect};
    const GpsCallbackReg data{VYR_GPS_CALLBACK(onRecord), &gExpect};
    FUZZ_CHECK(VYR_GPSPARSER_RegNMEARecvCbk(&nmea) == 0, "registering the NMEA callback");
    FUZZ_CHECK(VYR_GPSPARSER_Register(&data) == 0, "registering the data callback");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vyr::fuzz::quietLog();
    registerOnce();
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    mng.rawHeader = GpsRawHeader{};
    std::memset(&mng.gpsRawData, 0, sizeof(mng.gpsRawData));
    std::memset(&mng.msgPacket, 0, sizeof(mng.msgPacket));
    mng.bdSupported = 0;
    gExpect = Expectation{};

    vyr::mng::Framer framer;
    FramerModel framerModel;
    CollectorModel collectorModel;
    int sentences = 0;

    // The bytes go in runs of these lengths in turn, 0 standing for one byte
    // through frameByte; each run is fed through frame() until it is used up.
    constexpr size_t kRuns[] = {0, 7, 1, 64, 3, 0, 200, 16, 0, 9};
    size_t i = 0;
    size_t run = 0;
    size_t runEnd = 0;
    for (size_t r = 0; i < size;) {
        if (i == runEnd) {
            run = kRuns[r++ % std::size(kRuns)];
            runEnd = std::min(size, i + (run == 0 ? 1 : run));
        }
        const uint8_t* endedAt = nullptr;
        if (run == 0) {
            endedAt = framer.frameByte(data[i]) ? data + i + 1 : nullptr;
        } else {
            endedAt = framer.frame(data + i, data + runEnd);
            FUZZ_CHECK(endedAt == nullptr || (endedAt > data + i && endedAt <= data + runEnd),
                       "frame() returned a position outside its run");
        }
        // Every byte taken goes through the model; only the last one taken may
        // end a sentence, and only when the framer says so.
        const size_t taken = endedAt != nullptr ? static_cast<size_t>(endedAt - data) : runEnd;
        for (; i < taken; ++i) {
            const bool modelEnded = framerModel.feed(data[i]);
            const bool ended = endedAt != nullptr && i + 1 == taken;
            FUZZ_CHECK(ended == modelEnded, "byte %zu: framer %d, model %d", i, ended, modelEnded);
        }
        if (endedAt == nullptr) continue;  // the run is used up

        const char* s = framer.sentence();
        const uint32_t len = framer.length();
        const std::string shown = vyr::fuzz::shown(s, len);
        FUZZ_CHECK(len >= 1 && len <= 179, "length %u", len);
        FUZZ_CHECK(s[0] == '$' && s[len] == '\0', "sentence '%s' not framed", shown.c_str());
        FUZZ_CHECK(std::memchr(s, '\r', len) == nullptr && std::memchr(s, '\n', len) == nullptr,
                   "line end inside '%s'", shown.c_str());
        FUZZ_CHECK(static_cast<int>(len) == framerModel.len &&
                       std::memcmp(s, framerModel.buf, len + 1) == 0,
                   "framer handed on '%s', model '%s'", shown.c_str(),
                   vyr::fuzz::shown(framerModel.buf, framerModel.len).c_str());

        ++sentences;
        gExpect.sentence = s;
        gExpect.length = len;
        vyr::mng::handOnSentence(s, len);
        collectorModel.proc(s);

        FUZZ_CHECK(gExpect.nmeaCalls == sentences, "NMEA callback calls %d, sentences %d",
                   gExpect.nmeaCalls, sentences);
        FUZZ_CHECK(gExpect.dataCalls == collectorModel.deliveries,
                   "after '%s': %d deliveries, model %d", shown.c_str(), gExpect.dataCalls,
                   collectorModel.deliveries);
        FUZZ_CHECK(std::memcmp(&mng.rawHeader, &collectorModel.header, sizeof(GpsRawHeader)) == 0,
                   "after '%s': header flags %u, model %u", shown.c_str(), mng.rawHeader.flags,
                   collectorModel.header.flags);
        FUZZ_CHECK(std::memcmp(&mng.gpsRawData, &collectorModel.raw, sizeof(GpsRawData)) == 0,
                   "after '%s': raw set differs from the model", shown.c_str());
        FUZZ_CHECK(mng.bdSupported == collectorModel.bdSupported, "bdSupported differs");
    }
    return 0;
}
