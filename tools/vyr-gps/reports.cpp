#include "reports.h"

#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>

namespace vyr::tool {

namespace {

using Json = nlohmann::ordered_json;

std::string line(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void put(Json& object, const char* name, const std::optional<double>& value) {
    if (value) {
        object[name] = *value;
    }
}

// The time of a report: dated times only, as clients read it as a date.
std::optional<std::string> reportTime(const Fix& fix) {
    if (!fix.time || fix.time->year == 0) {
        return std::nullopt;
    }
    return fix.time->iso8601(3);
}

Json deviceObject(const DeviceInfo& device) {
    Json object = {{"class", "DEVICE"}, {"path", device.path}};
    if (device.activated) {
        object["activated"] = *device.activated;
        object["flags"] = 1;  // GPS data seen
    }
    object["driver"] = "NMEA0183";
    object["native"] = 0;
    object["bps"] = device.bps;
    object["parity"] = "N";
    object["stopbits"] = 1;
    object["cycle"] = 1.0;
    return object;
}

}  // namespace

std::string tpvReport(const Fix& fix, const std::string& device) {
    Json report = {{"class", "TPV"}, {"device", device}, {"mode", fix.mode}};
    if (const auto time = reportTime(fix)) {
        report["time"] = *time;
    }
    if (fix.hasPosition()) {
        report["lat"] = *fix.latitude;
        report["lon"] = *fix.longitude;
        put(report, "altHAE", fix.altitudeHae);
        put(report, "altMSL", fix.altitude);
        put(report, "geoidSep", fix.geoidSeparation);
        put(report, "track", fix.track);
        put(report, "speed", fix.speed);
    }
    return line(report);
}

std::string skyReport(const Fix& fix, const std::string& device) {
    Json report = {{"class", "SKY"}, {"device", device}};
    if (const auto time = reportTime(fix); time && !fix.mixed) {
        report["time"] = *time;
    }
    put(report, "hdop", fix.hdop);
    put(report, "pdop", fix.pdop);
    put(report, "vdop", fix.vdop);
    report["nSat"] = fix.satellites.size();
    report["uSat"] = fix.satellitesMarkedUsed();
    Json satellites = Json::array();
    for (const Satellite& sat : fix.satellites) {
        Json entry = {{"PRN", sat.id.prn}};
        if (sat.id.gnssid) {
            entry["gnssid"] = *sat.id.gnssid;
            entry["svid"] = *sat.id.svid;
        }
        entry["el"] = sat.elevation;
        entry["az"] = sat.azimuth;
        entry["ss"] = sat.snr;
        entry["used"] = sat.used;
        satellites.push_back(std::move(entry));
    }
    report["satellites"] = std::move(satellites);
    return line(report);
}

std::string versionResponse(const std::string& release) {
    return line({{"class", "VERSION"},
                 {"release", release},
                 {"rev", release},
                 {"proto_major", kProtocolMajor},
                 {"proto_minor", kProtocolMinor}});
}

std::string devicesResponse(const DeviceInfo& device) {
    return line({{"class", "DEVICES"}, {"devices", Json::array({deviceObject(device)})}});
}

std::string deviceResponse(const DeviceInfo& device) {
    return line(deviceObject(device));
}

std::string deviceDeactivated(const std::string& path) {
    return line({{"class", "DEVICE"}, {"path", path}, {"activated", 0}});
}

std::string watchResponse(const WatchPolicy& policy) {
    Json response = {
        {"class", "WATCH"},        {"enable", policy.enable},   {"json", policy.json},
        {"nmea", policy.nmea},     {"raw", policy.raw},         {"scaled", policy.scaled},
        {"timing", policy.timing}, {"split24", policy.split24}, {"pps", policy.pps}};
    if (!policy.device.empty()) {
        response["device"] = policy.device;
    }
    return line(response);
}

std::string pollResponse(const std::string& now, const DeviceInfo& device, const std::string& tpv,
                         const std::string& sky) {
    Json response = {{"class", "POLL"}, {"time", now}, {"active", device.activated ? 1 : 0}};
    Json tpvs = Json::array();
    Json skies = Json::array();
    if (tpv.empty()) {
        tpvs.push_back({{"class", "TPV"}, {"device", device.path}, {"mode", 0}});
    } else {
        tpvs.push_back(Json::parse(tpv));
    }
    if (!sky.empty()) {
        skies.push_back(Json::parse(sky));
    }
    response["tpv"] = std::move(tpvs);
    response["sky"] = std::move(skies);
    return line(response);
}

std::string errorResponse(const std::string& message) {
    return line({{"class", "ERROR"}, {"message", message}});
}

std::string isoNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

}  // namespace vyr::tool
