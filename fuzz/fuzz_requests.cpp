// The request parser of vyr-gps serve with arbitrary client lines. Checked:
// it never throws; it returns at most one request per "?" (and one error for
// text before the first); every error message is printable ASCII and its
// ERROR response parses back to the same message; a WATCH argument applied
// to a policy gives a WATCH response that parses, and enables unless it says
// "enable":false; the same line always parses the same way.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "requests.h"

namespace {

using vyr::tool::Request;

std::string describe(const std::vector<Request>& requests) {
    std::string out;
    for (const Request& r : requests) {
        out += std::to_string(static_cast<int>(r.kind)) + (r.watch ? "=" : "") + r.error + ";";
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = vyr::fuzz::asText(data, std::min(size, vyr::tool::kMaxRequestLine));
    const auto requests = vyr::tool::parseRequestLine(line);
    const auto questionMarks = static_cast<size_t>(std::count(line.begin(), line.end(), '?'));
    FUZZ_CHECK(requests.size() <= questionMarks + 1, "%zu requests from %zu '?'", requests.size(),
               questionMarks);
    for (const Request& request : requests) {
        if (request.kind == Request::Kind::Error) {
            FUZZ_CHECK(!request.error.empty(), "empty error message");
            for (const char c : request.error) {
                FUZZ_CHECK(c >= 0x20 && c < 0x7F, "byte %d in the message", c);
            }
            const auto response = nlohmann::json::parse(vyr::tool::errorResponse(request.error));
            FUZZ_CHECK(response["class"] == "ERROR" && response["message"] == request.error,
                       "ERROR response %s", response.dump().c_str());
        } else {
            FUZZ_CHECK(request.error.empty(), "a message on a command");
        }
        FUZZ_CHECK(!request.device || request.kind == Request::Kind::Device,
                   "a DEVICE argument on kind %d", static_cast<int>(request.kind));
        if (request.watch) {
            FUZZ_CHECK(request.kind == Request::Kind::Watch, "an argument on kind %d",
                       static_cast<int>(request.kind));
            vyr::tool::WatchPolicy policy;
            request.watch->applyTo(policy);
            FUZZ_CHECK(policy.enable == request.watch->enable.value_or(true),
                       "enable %d from the argument", policy.enable);
            FUZZ_CHECK(policy.raw >= 0 && policy.raw <= 2, "raw %d", policy.raw);
            const auto response = nlohmann::json::parse(vyr::tool::watchResponse(policy));
            FUZZ_CHECK(response["enable"] == policy.enable, "WATCH response %s",
                       response.dump().c_str());
        }
    }
    FUZZ_CHECK(describe(vyr::tool::parseRequestLine(line)) == describe(requests),
               "two parses differ");
    return 0;
}
