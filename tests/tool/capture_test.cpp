// The bundled captures: reproducible from their generator, and carrying what
// they are bundled for (valid checksums and line ends, GSV series of at most
// four sentences, a stretch without a fix, moving satellites, changing speed
// and course, and the line faults the reader must survive).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "tool_harness.h"

namespace vyr::tooltest {
namespace {

const char* const kCaptures[][2] = {{"drive-gps-beidou.nmea", "gps-beidou"},
                                    {"drive-gps-only.nmea", "gps-only"}};

std::string dataPath(const char* name) {
    return std::string(VYR_TEST_PROJECT_DATA_DIR) + "/" + name;
}

TEST(CaptureGenerator, ReproducesTheBundledCaptures) {
    if (VYR_TEST_RUNS_EMULATED || std::system("command -v python3 >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 not available to this test program";
    }
    for (const auto& capture : kCaptures) {
        SCOPED_TRACE(capture[0]);
        char out[] = "/tmp/vyr-capture-XXXXXX";
        const int fd = mkstemp(out);
        ASSERT_GE(fd, 0);
        close(fd);
        const std::string command = std::string("python3 ") + VYR_TEST_CAPTURE_GEN +
                                    " --receiver " + capture[1] + " -o " + out;
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_TRUE(readFile(out) == readFile(dataPath(capture[0])))
            << "regenerate data/ with tools/capture-gen/capture_gen.py";
        unlink(out);
    }
}

class BundledCapture : public testing::TestWithParam<int> {
protected:
    std::string bytes = readFile(dataPath(kCaptures[GetParam()][0]));
    bool beidou = GetParam() == 0;
};

TEST_P(BundledCapture, SentencesAreWellFormed) {
    ASSERT_GT(bytes.size(), 50000u);
    EXPECT_LT(bytes.size(), 1000000u);
    size_t checked = 0, overlong = 0, lineStart = 0;
    for (size_t end = bytes.find("\r\n"); end != std::string::npos;
         lineStart = end + 2, end = bytes.find("\r\n", lineStart)) {
        const std::string line = bytes.substr(lineStart, end - lineStart);
        const size_t dollar = line.rfind('$');
        const size_t star = line.rfind('*');
        if (dollar == std::string::npos || star == std::string::npos || star < dollar) {
            continue;
        }
        unsigned sum = 0;
        for (size_t i = dollar + 1; i < star; ++i) {
            sum ^= static_cast<unsigned char>(line[i]);
        }
        unsigned stated = 0;
        ASSERT_EQ(std::sscanf(line.c_str() + star + 1, "%2X", &stated), 1) << line;
        EXPECT_EQ(sum, stated) << line;
        overlong += line.size() - dollar > 179 ? 1 : 0;
        ++checked;
    }
    EXPECT_GT(checked, 1500u);
    EXPECT_EQ(overlong, 1u);
    // No bare LF: every line ends in CR LF.
    for (size_t lf = bytes.find('\n'); lf != std::string::npos; lf = bytes.find('\n', lf + 1)) {
        ASSERT_EQ(bytes[lf - 1], '\r') << "at byte " << lf;
    }
}

TEST_P(BundledCapture, DriveHasMotionSatelliteChangesAndAnOutage) {
    const CaptureModel model = modelCapture(bytes);
    ASSERT_GT(model.epochs.size(), 250u);
    const auto gsvPrns = [](const ModelEpoch& epoch) {
        std::set<std::string> prns;
        for (const std::string& text : epoch.gpGsv) {
            const auto fields = text.empty() ? std::vector<std::string>{} : splitFields(text);
            for (size_t i = 4; i < fields.size(); i += 4) {
                prns.insert(fields[i]);
            }
        }
        return prns;
    };
    std::set<std::string> seenEver;
    int risen = 0, set = 0, maxTotal = 0;
    std::set<std::string> previous = gsvPrns(model.epochs.front());
    double minKnots = 1e9, maxKnots = 0, minCourse = 360, maxCourse = 0;
    size_t longestOutage = 0, outage = 0;
    for (const ModelEpoch& epoch : model.epochs) {
        const std::set<std::string> now = gsvPrns(epoch);
        for (const auto& prn : now) risen += previous.count(prn) ? 0 : 1;
        for (const auto& prn : previous) set += now.count(prn) ? 0 : 1;
        previous = now;
        for (const std::string& text : epoch.gpGsv) {
            if (!text.empty()) maxTotal = std::max(maxTotal, std::stoi(splitFields(text)[1]));
        }
        const auto rmc = splitFields(epoch.rmc);
        outage = epoch.valid() ? 0 : outage + 1;
        longestOutage = std::max(longestOutage, outage);
        if (epoch.valid()) {
            minKnots = std::min(minKnots, std::stod(rmc[7]));
            maxKnots = std::max(maxKnots, std::stod(rmc[7]));
            if (!rmc[8].empty()) {
                minCourse = std::min(minCourse, std::stod(rmc[8]));
                maxCourse = std::max(maxCourse, std::stod(rmc[8]));
            }
        } else {
            EXPECT_TRUE(rmc[3].empty() && rmc[5].empty()) << epoch.rmc;
        }
    }
    EXPECT_GE(risen, 1);
    EXPECT_GE(set, 1);
    EXPECT_LE(maxTotal, 4);
    EXPECT_GE(maxTotal, 3);
    EXPECT_GE(longestOutage, 10u);
    EXPECT_LT(minKnots, 0.5);
    EXPECT_GT(maxKnots, 30.0);
    EXPECT_GT(maxCourse - minCourse, 60.0);
    // BeiDou series complete the epochs of the GPS+BeiDou receiver only.
    const bool anyBeiDou = std::any_of(model.epochs.begin(), model.epochs.end(),
                                       [](const ModelEpoch& e) { return !e.bdGsv[0].empty(); });
    EXPECT_EQ(anyBeiDou, beidou);
}

// A sentence cut off by the next "$" never reaches the collector; here it is
// an RMC, so its burst delivers no fix of its own.
TEST_P(BundledCapture, CutSentenceCostsOneFix) {
    const CaptureModel model = modelCapture(bytes);
    size_t bursts = 0;
    for (const std::string& s : model.sentences) {
        bursts += s.find("GGA,") != std::string::npos ? 1 : 0;
    }
    // A "$" that arrives while a sentence is still open (and not yet full).
    size_t cut = 0, openLength = 0;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            openLength = 0;
        } else if (c == '$') {
            cut += openLength > 0 && openLength < 179 ? 1 : 0;
            openLength = 1;
        } else if (openLength > 0) {
            ++openLength;
        }
    }
    EXPECT_EQ(cut, 1u);
    EXPECT_EQ(model.epochs.size(), bursts - 1);
}

INSTANTIATE_TEST_SUITE_P(Captures, BundledCapture, testing::Values(0, 1),
                         [](const testing::TestParamInfo<int>& param) {
                             return std::string(param.param == 0 ? "GpsBeiDou" : "GpsOnly");
                         });

}  // namespace
}  // namespace vyr::tooltest
