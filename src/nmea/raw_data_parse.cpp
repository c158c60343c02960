// Parse of one collected raw sentence set into the parsed record, in place.
// Reader thread only (the manager serialises it against the pull copies).
//
// The record is never cleared: a member whose slot is empty keeps the last
// epoch's values, because the scanner rejects an empty slot before writing.
// gsa[1] and bdGsv are never written; BeiDou satellites reach callers only as
// text in the raw set.
#include <algorithm>
#include <span>

#include "common/log.h"
#include "nmea/parsers.h"

namespace vyr::nmea {
namespace {

// A satellite is used in the fix when it is tracked (any non-zero SNR) and its
// number is one of the twelve fix-list values, zeros included: an incomplete
// list therefore marks a tracked entry with number 0.
void markUsedInFix(GpsGsv& gsv, std::span<const int32_t, 12> fixList) {
    for (GpsSatInfo& satellite : gsv.satellites) {
        const bool listed = satellite.snr != 0 && std::find(fixList.begin(), fixList.end(),
                                                            satellite.prn) != fixList.end();
        satellite.usedInFix = listed ? 1 : 0;
    }
}

}  // namespace

int32_t GPSPARSER_ParseRawData(const GpsRawData* gpsRawData, GpsMsgPacket* msgPacket) noexcept {
    // Calls are qualified: argument-dependent lookup on the record types would
    // also find the exported functions of the same names.
    if (nmea::GPSPARSER_ParseRMC(&msgPacket->rmc, gpsRawData->rmcStr) != 1) {
        VYR_LOG_ERR("parser RMC str failed! -> gpsRawData->rmcStr=%s\n", gpsRawData->rmcStr);
    }
    if (nmea::GPSPARSER_ParseGGA(&msgPacket->gga, gpsRawData->ggaStr) != 1) {
        VYR_LOG_ERR("parser GGA str failed! -> gpsRawData->ggaStr=%s\n", gpsRawData->ggaStr);
    }
    if (nmea::GPSPARSER_ParseGSA(&msgPacket->gsa[0], gpsRawData->gsaStr[0]) != 1) {
        VYR_LOG_DBG("parser GSA str failed!\n");
    }
    // Every entry is re-marked against the current fix list, also those of
    // sentences this epoch did not rewrite.
    const std::span<const int32_t, 12> fixList{msgPacket->gsa[0].satelliteIds};
    for (int k = 0; k < 4; ++k) {
        (void)nmea::GPSPARSER_ParseGSV(&msgPacket->gpGsv[k], gpsRawData->gpGsvStr[k]);
        markUsedInFix(msgPacket->gpGsv[k], fixList);
    }
    return 0;
}

}  // namespace vyr::nmea

extern "C" int32_t GPSPARSER_ParseRawData(const GpsRawData* gpsRawData, GpsMsgPacket* msgPacket) {
    return vyr::nmea::GPSPARSER_ParseRawData(gpsRawData, msgPacket);
}
