#include "timing_reports.h"

#include <nlohmann/json.hpp>

namespace vyr::tool {

namespace {

using Json = nlohmann::ordered_json;

Json timingObject(const char* kind, const TimeSample& sample, const std::string& device) {
    return {{"class", kind},
            {"device", device},
            {"real_sec", static_cast<int64_t>(sample.real.tv_sec)},
            {"real_nsec", static_cast<int64_t>(sample.real.tv_nsec)},
            {"clock_sec", static_cast<int64_t>(sample.clock.tv_sec)},
            {"clock_nsec", static_cast<int64_t>(sample.clock.tv_nsec)},
            {"precision", sample.precision}};
}

}  // namespace

std::string toffReport(const TimeSample& sample, const std::string& device) {
    return timingObject("TOFF", sample, device).dump();
}

std::string ppsReport(const TimeSample& sample, const std::string& device, const std::string& shm) {
    Json report = timingObject("PPS", sample, device);
    if (!shm.empty()) {
        report["shm"] = shm;
    }
    return report.dump();
}

}  // namespace vyr::tool
