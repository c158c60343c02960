// Sentence parsers, for the library's own callers (the exported functions of
// the same names are thin wrappers). Each fills its record from one sentence
// and returns 1, or 0 on failure; only the RMC parser logs. Stateless; any
// thread, different records.
#pragma once

#include <cstdint>

#include "vyr_gpsparser.h"

namespace vyr::nmea {

int32_t GPSPARSER_ParseRMC(GpsRmc* rmc, const char* sentence) noexcept;
int32_t GPSPARSER_ParseGGA(GpsGga* gga, const char* sentence) noexcept;
int32_t GPSPARSER_ParseGSA(GpsGsa* gsa, const char* sentence) noexcept;
int32_t GPSPARSER_ParseGLL(GpsGll* gll, const char* sentence) noexcept;
int32_t GPSPARSER_ParseGST(GpsGst* gst, const char* sentence) noexcept;
int32_t GPSPARSER_ParseGSV(GpsGsv* gsv, const char* sentence) noexcept;
int32_t GPSPARSER_ParseVTG(GpsVtg* vtg, const char* sentence) noexcept;
int32_t GPSPARSER_ParseZDA(GpsZda* zda, const char* sentence) noexcept;

// Parses RMC, GGA, the first GSA and the GPS GSV series of the raw set into the
// record and recomputes the sixteen used-in-fix marks; always 0. Reader thread.
int32_t GPSPARSER_ParseRawData(const GpsRawData* gpsRawData, GpsMsgPacket* msgPacket) noexcept;

}  // namespace vyr::nmea
