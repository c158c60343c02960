// Shared by the epoch assembler's tests: sentences with their checksums, an
// assembler run over them in process, and the captures the tests read.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "assembler.h"
#include "support/framing.h"
#include "support/nmea.h"
#include "support/shell.h"

namespace vyr::tool::test {

using Json = nlohmann::json;

using vyr::test::nmea;

// What an assembler released, with the type letters of the sentence that
// released each presentation.
struct Released {
    std::vector<Presentation> presented;
    std::vector<std::string> releasedBy;
    template <typename T>
    [[nodiscard]] std::vector<T> all() const {
        std::vector<T> out;
        for (const Presentation& p : presented) {
            if (const auto* item = std::get_if<T>(&p)) {
                out.push_back(*item);
            }
        }
        return out;
    }
};

// Sentences one after another as a capture delivers them (no pauses), or
// with the steady time of each.
inline Released assemble(const std::vector<std::string>& sentences,
                         const std::vector<std::chrono::milliseconds>& at = {}) {
    EpochAssembler assembler;
    Released run;
    std::vector<Presentation> out;
    for (size_t i = 0; i < sentences.size(); ++i) {
        Arrival arrival;
        arrival.steady = std::chrono::steady_clock::time_point(
            i < at.size() ? at[i] : std::chrono::milliseconds(static_cast<int64_t>(i)));
        arrival.realtime.tv_sec = static_cast<time_t>(i);
        out.clear();
        assembler.add(sentences[i], arrival, out);
        for (Presentation& p : out) {
            run.presented.push_back(std::move(p));
            run.releasedBy.push_back(sentences[i].substr(3, 3));
        }
    }
    out.clear();
    assembler.finish(out);
    for (Presentation& p : out) {
        run.presented.push_back(std::move(p));
        run.releasedBy.push_back("end");
    }
    return run;
}

inline Released assembleCapture(const std::string& bytes) {
    std::vector<std::string> sentences;
    vyr::test::frameCapture(bytes,
                            [&](std::string_view s, size_t, size_t) { sentences.emplace_back(s); });
    return assemble(sentences);
}

// A test name from a parameter's capture file.
template <typename Info>
std::string captureName(const Info& info) {
    std::string name = info.param.capture;
    std::replace_if(
        name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
    return name;
}

inline std::string capture(const std::string& name) {
    const std::string path = name.starts_with("data/") ? VYR_TEST_PROJECT_DATA_DIR + name.substr(4)
                                                       : VYR_TEST_CAPTURE_DIR "/" + name;
    return vyr::test::readFile(path);
}

}  // namespace vyr::tool::test
