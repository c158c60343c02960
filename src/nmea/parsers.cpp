// The eight sentence parsers: one scan per sentence, a check of the sentence
// formatter (any talker is accepted) and the sentence's own corrections. No
// parser clears its record: after a failure the fields scanned so far hold new
// values and the rest keep their old ones.
#include "nmea/parsers.h"

#include "common/log.h"
#include "nmea/scanner.h"

namespace vyr::nmea {
namespace {

using TypeText = char[6];

// Compares the formatter letters only: "GPRMC" and "GNRMC" are both RMC.
bool hasFormatter(const TypeText& type, const char (&formatter)[4]) {
    return type[2] == formatter[0] && type[3] == formatter[1] && type[4] == formatter[2];
}

// Direction signs are applied by multiplication, so an empty direction (0)
// zeroes the value and keeps the scale.
void applySign(GpsFloat& number, int32_t direction) {
    number.value *= direction;
}

}  // namespace

int32_t GPSPARSER_ParseRMC(GpsRmc* rmc, const char* sentence) noexcept {
    // Starting values of the parser's own fields, printed by the failure line
    // when the scan stops before reaching them.
    TypeText type = "";
    char validity = '?';
    int32_t latitudeDirection = 0;
    int32_t longitudeDirection = 0;
    int32_t variationDirection = 0;
    if (!scanFields<"tTcfdfdffDfd">(sentence, &type, &rmc->time, &validity, &rmc->latitude,
                                    &latitudeDirection, &rmc->longitude, &longitudeDirection,
                                    &rmc->speed, &rmc->course, &rmc->date, &rmc->magneticVariation,
                                    &variationDirection)) {
        VYR_LOG_ERR("GPSPARSER_Scan fail \n");
        VYR_LOG_ERR(
            "type=%s, validity=%c, latitude=%d, latitudeDirection=%d, longitude=%d, "
            "longitudeDirection=%d, speed=%d\n",
            type, validity, rmc->latitude.value, latitudeDirection, rmc->longitude.value,
            longitudeDirection, rmc->speed.value);
        return 0;
    }
    if (!hasFormatter(type, "RMC")) {
        VYR_LOG_ERR("can not match RMC...\n");
        return 0;
    }
    rmc->valid = (validity == 'A') ? 1 : 0;
    applySign(rmc->latitude, latitudeDirection);
    applySign(rmc->longitude, longitudeDirection);
    applySign(rmc->magneticVariation, variationDirection);
    return 1;
}

int32_t GPSPARSER_ParseGGA(GpsGga* gga, const char* sentence) noexcept {
    TypeText type = "";
    int32_t latitudeDirection = 0;
    int32_t longitudeDirection = 0;
    // "_": the reference station number must be present as a field.
    if (!scanFields<"tTfdfdiiffcfcf_">(sentence, &type, &gga->time, &gga->latitude,
                                       &latitudeDirection, &gga->longitude, &longitudeDirection,
                                       &gga->quality, &gga->satellitesInUse, &gga->hdop,
                                       &gga->altitude, &gga->altitudeUnits, &gga->geoidSeparation,
                                       &gga->geoidSeparationUnits, &gga->differentialAge) ||
        !hasFormatter(type, "GGA")) {
        return 0;
    }
    applySign(gga->latitude, latitudeDirection);
    applySign(gga->longitude, longitudeDirection);
    return 1;
}

int32_t GPSPARSER_ParseGSA(GpsGsa* gsa, const char* sentence) noexcept {
    // "tciiiiiiiiiiiiifff", the twelve satellite numbers in a loop.
    TypeText type = "";
    const char* cursor = scanPart<"tci">(sentence, &type, &gsa->selectionMode, &gsa->fixMode);
    for (int32_t& id : gsa->satelliteIds) cursor = scanPart<"i">(cursor, &id);
    cursor = scanPart<"fff">(cursor, &gsa->pdop, &gsa->hdop, &gsa->vdop);
    return (cursor != field::kFailed && hasFormatter(type, "GSA")) ? 1 : 0;
}

int32_t GPSPARSER_ParseGLL(GpsGll* gll, const char* sentence) noexcept {
    TypeText type = "";
    int32_t latitudeDirection = 0;
    int32_t longitudeDirection = 0;
    if (!scanFields<"tfdfdTc;c">(sentence, &type, &gll->latitude, &latitudeDirection,
                                 &gll->longitude, &longitudeDirection, &gll->time, &gll->status,
                                 &gll->modeIndicator) ||
        !hasFormatter(type, "GLL")) {
        return 0;
    }
    applySign(gll->latitude, latitudeDirection);
    applySign(gll->longitude, longitudeDirection);
    return 1;
}

int32_t GPSPARSER_ParseGST(GpsGst* gst, const char* sentence) noexcept {
    TypeText type = "";
    const bool scanned = scanFields<"tTfffffff">(
        sentence, &type, &gst->time, &gst->rangeRms, &gst->semiMajorSigma, &gst->semiMinorSigma,
        &gst->semiMajorOrientation, &gst->latitudeSigma, &gst->longitudeSigma, &gst->altitudeSigma);
    return (scanned && hasFormatter(type, "GST")) ? 1 : 0;
}

int32_t GPSPARSER_ParseGSV(GpsGsv* gsv, const char* sentence) noexcept {
    // "tiii;iiiiiiiiiiiiiiii", the four satellites in a loop. Satellites
    // missing from a short last sentence are absent fields: all 0. usedInFix
    // is left to the raw-set parse.
    TypeText type = "";
    const char* cursor = scanPart<"tiii">(sentence, &type, &gsv->messageCount, &gsv->messageNumber,
                                          &gsv->satellitesInView);
    for (GpsSatInfo& sat : gsv->satellites) {
        cursor = scanPart<";iiii">(cursor, &sat.prn, &sat.elevation, &sat.azimuth, &sat.snr);
    }
    return (cursor != field::kFailed && hasFormatter(type, "GSV")) ? 1 : 0;
}

int32_t GPSPARSER_ParseVTG(GpsVtg* vtg, const char* sentence) noexcept {
    TypeText type = "";
    char trueUnit = 0;
    char magneticUnit = 0;
    char knotsUnit = 0;
    char kphUnit = 0;
    char mode = 0;
    if (!scanFields<"tfcfcfcfc;c">(sentence, &type, &vtg->trueCourse, &trueUnit,
                                   &vtg->magneticCourse, &magneticUnit, &vtg->speedKnots,
                                   &knotsUnit, &vtg->speedKph, &kphUnit, &mode) ||
        !hasFormatter(type, "VTG")) {
        return 0;
    }
    if (trueUnit != 'T' || magneticUnit != 'M' || knotsUnit != 'N' || kphUnit != 'K') return 0;
    vtg->modeIndicator = mode;
    return 1;
}

int32_t GPSPARSER_ParseZDA(GpsZda* zda, const char* sentence) noexcept {
    TypeText type = "";
    if (!scanFields<"tTiiiii">(sentence, &type, &zda->time, &zda->date.day, &zda->date.month,
                               &zda->date.year, &zda->zoneHours, &zda->zoneMinutes) ||
        !hasFormatter(type, "ZDA")) {
        return 0;
    }
    const bool zoneValid = zda->zoneHours >= -13 && zda->zoneHours <= 13 && zda->zoneMinutes >= 0 &&
                           zda->zoneMinutes <= 59;
    return zoneValid ? 1 : 0;
}

}  // namespace vyr::nmea

extern "C" {

int32_t GPSPARSER_ParseRMC(GpsRmc* rmc, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseRMC(rmc, sentence);
}
int32_t GPSPARSER_ParseGGA(GpsGga* gga, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseGGA(gga, sentence);
}
int32_t GPSPARSER_ParseGSA(GpsGsa* gsa, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseGSA(gsa, sentence);
}
int32_t GPSPARSER_ParseGLL(GpsGll* gll, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseGLL(gll, sentence);
}
int32_t GPSPARSER_ParseGST(GpsGst* gst, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseGST(gst, sentence);
}
int32_t GPSPARSER_ParseGSV(GpsGsv* gsv, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseGSV(gsv, sentence);
}
int32_t GPSPARSER_ParseVTG(GpsVtg* vtg, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseVTG(vtg, sentence);
}
int32_t GPSPARSER_ParseZDA(GpsZda* zda, const char* sentence) {
    return vyr::nmea::GPSPARSER_ParseZDA(zda, sentence);
}

}  // extern "C"
