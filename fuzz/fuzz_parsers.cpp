// The eight sentence parsers with arbitrary sentences. Each parser runs on a
// record filled with a pattern and is compared byte for byte with a model of
// it built from the field scanner (whose own rules fuzz_scanner checks): the
// format's letters in their record order, the formatter check and the
// corrections. Also checked on success: the formatter letters of the
// sentence, well-formed numbers, times and dates, 0/1 validity, the ZDA zone
// limits, and that the GSV parser never writes usedInFix.
#include <cstring>

#include "fuzz_support.h"
#include "nmea/scanner.h"

namespace {

using vyr::nmea::scanFields;

bool formatterIs(const char (&type)[6], const char* letters) {
    return std::memcmp(type + 2, letters, 3) == 0;
}

void applySign(GpsFloat& number, int32_t direction) {
    number.value *= direction;
}

int32_t modelRmc(GpsRmc& m, const char* s) {
    char type[6] = "";
    char validity = '?';
    int32_t lat = 0, lon = 0, var = 0;
    if (!scanFields<"tTcfdfdffDfd">(s, &type, &m.time, &validity, &m.latitude, &lat, &m.longitude,
                                    &lon, &m.speed, &m.course, &m.date, &m.magneticVariation,
                                    &var) ||
        !formatterIs(type, "RMC")) {
        return 0;
    }
    m.valid = validity == 'A' ? 1 : 0;
    applySign(m.latitude, lat);
    applySign(m.longitude, lon);
    applySign(m.magneticVariation, var);
    return 1;
}

int32_t modelGga(GpsGga& m, const char* s) {
    char type[6] = "";
    int32_t lat = 0, lon = 0;
    if (!scanFields<"tTfdfdiiffcfcf_">(s, &type, &m.time, &m.latitude, &lat, &m.longitude, &lon,
                                       &m.quality, &m.satellitesInUse, &m.hdop, &m.altitude,
                                       &m.altitudeUnits, &m.geoidSeparation,
                                       &m.geoidSeparationUnits, &m.differentialAge) ||
        !formatterIs(type, "GGA")) {
        return 0;
    }
    applySign(m.latitude, lat);
    applySign(m.longitude, lon);
    return 1;
}

int32_t modelGsa(GpsGsa& m, const char* s) {
    char type[6] = "";
    int32_t* id = m.satelliteIds;
    return scanFields<"tciiiiiiiiiiiiifff">(s, &type, &m.selectionMode, &m.fixMode, &id[0], &id[1],
                                            &id[2], &id[3], &id[4], &id[5], &id[6], &id[7], &id[8],
                                            &id[9], &id[10], &id[11], &m.pdop, &m.hdop, &m.vdop) &&
                   formatterIs(type, "GSA")
               ? 1
               : 0;
}

int32_t modelGll(GpsGll& m, const char* s) {
    char type[6] = "";
    int32_t lat = 0, lon = 0;
    if (!scanFields<"tfdfdTc;c">(s, &type, &m.latitude, &lat, &m.longitude, &lon, &m.time,
                                 &m.status, &m.modeIndicator) ||
        !formatterIs(type, "GLL")) {
        return 0;
    }
    applySign(m.latitude, lat);
    applySign(m.longitude, lon);
    return 1;
}

int32_t modelGst(GpsGst& m, const char* s) {
    char type[6] = "";
    return scanFields<"tTfffffff">(s, &type, &m.time, &m.rangeRms, &m.semiMajorSigma,
                                   &m.semiMinorSigma, &m.semiMajorOrientation, &m.latitudeSigma,
                                   &m.longitudeSigma, &m.altitudeSigma) &&
                   formatterIs(type, "GST")
               ? 1
               : 0;
}

int32_t modelGsv(GpsGsv& m, const char* s) {
    char type[6] = "";
    GpsSatInfo* v = m.satellites;
    return scanFields<"tiii;iiiiiiiiiiiiiiii">(
               s, &type, &m.messageCount, &m.messageNumber, &m.satellitesInView, &v[0].prn,
               &v[0].elevation, &v[0].azimuth, &v[0].snr, &v[1].prn, &v[1].elevation, &v[1].azimuth,
               &v[1].snr, &v[2].prn, &v[2].elevation, &v[2].azimuth, &v[2].snr, &v[3].prn,
               &v[3].elevation, &v[3].azimuth, &v[3].snr) &&
                   formatterIs(type, "GSV")
               ? 1
               : 0;
}

int32_t modelVtg(GpsVtg& m, const char* s) {
    char type[6] = "";
    char u1 = 0, u2 = 0, u3 = 0, u4 = 0, mode = 0;
    if (!scanFields<"tfcfcfcfc;c">(s, &type, &m.trueCourse, &u1, &m.magneticCourse, &u2,
                                   &m.speedKnots, &u3, &m.speedKph, &u4, &mode) ||
        !formatterIs(type, "VTG") || u1 != 'T' || u2 != 'M' || u3 != 'N' || u4 != 'K') {
        return 0;
    }
    m.modeIndicator = mode;
    return 1;
}

int32_t modelZda(GpsZda& m, const char* s) {
    char type[6] = "";
    if (!scanFields<"tTiiiii">(s, &type, &m.time, &m.date.day, &m.date.month, &m.date.year,
                               &m.zoneHours, &m.zoneMinutes) ||
        !formatterIs(type, "ZDA")) {
        return 0;
    }
    return (m.zoneHours >= -13 && m.zoneHours <= 13 && m.zoneMinutes >= 0 && m.zoneMinutes <= 59)
               ? 1
               : 0;
}

// Runs parser and model on records filled with the same pattern and compares
// result and every byte.
template <typename Record>
int32_t compare(const char* name, int32_t (*parser)(Record*, const char*),
                int32_t (*model)(Record&, const char*), const char* s, uint8_t fill, Record& out) {
    Record expected;
    std::memset(&out, fill, sizeof(out));
    std::memset(&expected, fill, sizeof(expected));
    const int32_t result = parser(&out, s);
    const int32_t modelResult = model(expected, s);
    const std::string where = vyr::fuzz::shown(s, std::strlen(s));
    FUZZ_CHECK(result == 0 || result == 1, "%s returned %d for '%s'", name, result, where.c_str());
    FUZZ_CHECK(result == modelResult, "%s returned %d, model %d, for '%s'", name, result,
               modelResult, where.c_str());
    FUZZ_CHECK(std::memcmp(&out, &expected, sizeof(out)) == 0,
               "%s record differs from the model for '%s'", name, where.c_str());
    if (result == 1) {
        FUZZ_CHECK(s[0] == '$' && std::strlen(s) >= 6, "%s accepted '%s' without a type field",
                   name, where.c_str());
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vyr::fuzz::quietLog();
    const std::string text = vyr::fuzz::asText(data, size);
    const char* s = text.c_str();
    using vyr::fuzz::isValidDate;
    using vyr::fuzz::isValidFloat;
    using vyr::fuzz::isValidScale;
    using vyr::fuzz::isValidTime;

    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xA5}}) {
        GpsRmc rmc;
        if (compare("RMC", GPSPARSER_ParseRMC, modelRmc, s, fill, rmc) == 1) {
            FUZZ_CHECK(std::memcmp(s + 3, "RMC", 3) == 0, "RMC accepted another formatter");
            FUZZ_CHECK(rmc.valid == 0 || rmc.valid == 1, "RMC valid %d", rmc.valid);
            FUZZ_CHECK(isValidTime(rmc.time) && isValidDate(rmc.date) && isValidFloat(rmc.speed) &&
                           isValidFloat(rmc.course) && isValidScale(rmc.latitude.scale) &&
                           isValidScale(rmc.longitude.scale),
                       "RMC field out of its form");
        }
        GpsGga gga;
        if (compare("GGA", GPSPARSER_ParseGGA, modelGga, s, fill, gga) == 1) {
            FUZZ_CHECK(std::memcmp(s + 3, "GGA", 3) == 0, "GGA accepted another formatter");
            FUZZ_CHECK(isValidTime(gga.time) && isValidFloat(gga.hdop) &&
                           isValidFloat(gga.altitude) && isValidFloat(gga.differentialAge),
                       "GGA field out of its form");
        }
        GpsGsa gsa;
        if (compare("GSA", GPSPARSER_ParseGSA, modelGsa, s, fill, gsa) == 1) {
            FUZZ_CHECK(std::memcmp(s + 3, "GSA", 3) == 0, "GSA accepted another formatter");
            FUZZ_CHECK(isValidFloat(gsa.pdop) && isValidFloat(gsa.hdop) && isValidFloat(gsa.vdop),
                       "GSA dilution out of its form");
        }
        GpsGll gll;
        if (compare("GLL", GPSPARSER_ParseGLL, modelGll, s, fill, gll) == 1) {
            FUZZ_CHECK(isValidTime(gll.time), "GLL time out of its form");
        }
        GpsGst gst;
        if (compare("GST", GPSPARSER_ParseGST, modelGst, s, fill, gst) == 1) {
            FUZZ_CHECK(isValidTime(gst.time) && isValidFloat(gst.rangeRms),
                       "GST field out of its form");
        }
        GpsGsv gsv;
        compare("GSV", GPSPARSER_ParseGSV, modelGsv, s, fill, gsv);
        for (const GpsSatInfo& sat : gsv.satellites) {
            FUZZ_CHECK(sat.usedInFix == fill, "GSV parser wrote usedInFix");
        }
        GpsVtg vtg;
        if (compare("VTG", GPSPARSER_ParseVTG, modelVtg, s, fill, vtg) == 1) {
            FUZZ_CHECK(vtg.modeIndicator >= 0 && vtg.modeIndicator <= 0x7E,
                       "VTG mode %d is no field character", vtg.modeIndicator);
        }
        GpsZda zda;
        if (compare("ZDA", GPSPARSER_ParseZDA, modelZda, s, fill, zda) == 1) {
            FUZZ_CHECK(zda.zoneHours >= -13 && zda.zoneHours <= 13 && zda.zoneMinutes >= 0 &&
                           zda.zoneMinutes <= 59,
                       "ZDA zone out of range");
        }
    }
    return 0;
}
