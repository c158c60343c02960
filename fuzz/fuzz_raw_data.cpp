// GPSPARSER_ParseRawData with arbitrary raw sets. The input's lines fill the
// twelve slots in order (ggaStr, gsaStr[0..1], rmcStr, gpGsvStr[0..3],
// bdGsvStr[0..3]), each cut to 179 characters and NUL-terminated as the
// collector leaves them; bytes after the NUL stay as the input gave them.
// The record starts from a pattern standing for an earlier epoch. Checked:
//  - the result is 0;
//  - the record equals a model: the four parsers called one by one on a copy
//    of the starting record, then the sixteen marks by the marking rule;
//  - gsa[1] and all of bdGsv keep their starting bytes;
//  - every usedInFix is 0 or 1, and 1 exactly for a tracked satellite (SNR not
//    0) whose number is one of the twelve fix-list values.
#include <cstring>

#include "fuzz_support.h"

namespace {

constexpr size_t kSlots = 12;

void fillRawSet(const uint8_t* data, size_t size, GpsRawData& raw) {
    std::memset(&raw, 0, sizeof(raw));
    char* slots = reinterpret_cast<char*>(&raw);
    size_t slot = 0;
    size_t pos = 0;
    for (size_t i = 0; i < size && slot < kSlots; ++i) {
        if (data[i] == '\n') {
            ++slot;
            pos = 0;
            continue;
        }
        if (pos < VYR_GPS_SENTENCE_SIZE - 1) {
            slots[slot * VYR_GPS_SENTENCE_SIZE + pos++] = static_cast<char>(data[i]);
        }
    }
}

void modelParse(const GpsRawData& raw, GpsMsgPacket& m) {
    (void)GPSPARSER_ParseRMC(&m.rmc, raw.rmcStr);
    (void)GPSPARSER_ParseGGA(&m.gga, raw.ggaStr);
    (void)GPSPARSER_ParseGSA(&m.gsa[0], raw.gsaStr[0]);
    for (int k = 0; k < 4; ++k) {
        (void)GPSPARSER_ParseGSV(&m.gpGsv[k], raw.gpGsvStr[k]);
        for (GpsSatInfo& sat : m.gpGsv[k].satellites) {
            bool listed = false;
            for (const int32_t id : m.gsa[0].satelliteIds) {
                if (id == sat.prn) listed = true;
            }
            sat.usedInFix = (sat.snr != 0 && listed) ? 1 : 0;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vyr::fuzz::quietLog();
    GpsRawData raw;
    fillRawSet(data, size, raw);
    const GpsRawData rawBefore = raw;

    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0x5A}}) {
        GpsMsgPacket start;
        std::memset(&start, fill, sizeof(start));
        GpsMsgPacket record = start;
        GpsMsgPacket expected = start;

        FUZZ_CHECK(GPSPARSER_ParseRawData(&raw, &record) == 0, "result not 0");
        modelParse(raw, expected);

        FUZZ_CHECK(std::memcmp(&raw, &rawBefore, sizeof(raw)) == 0, "the raw set was changed");
        FUZZ_CHECK(std::memcmp(&record.gsa[1], &start.gsa[1], sizeof(GpsGsa)) == 0,
                   "gsa[1] was written");
        FUZZ_CHECK(std::memcmp(record.bdGsv, start.bdGsv, sizeof(record.bdGsv)) == 0,
                   "bdGsv was written");
        for (const GpsGsv& gsv : record.gpGsv) {
            for (const GpsSatInfo& sat : gsv.satellites) {
                FUZZ_CHECK(sat.usedInFix <= 1, "usedInFix %u", sat.usedInFix);
                bool listed = false;
                for (const int32_t id : record.gsa[0].satelliteIds) listed |= id == sat.prn;
                FUZZ_CHECK(sat.usedInFix == ((sat.snr != 0 && listed) ? 1 : 0),
                           "usedInFix %u for prn %d snr %d", sat.usedInFix, sat.prn, sat.snr);
            }
        }
        FUZZ_CHECK(std::memcmp(&record, &expected, sizeof(record)) == 0,
                   "record differs from the parsers called one by one");
    }
    return 0;
}
