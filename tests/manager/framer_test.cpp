// The sentence framer on its own: a table of inputs fed byte by byte and
// through the run entry point in runs of several sizes.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "manager/framer_run.h"
#include "support/log_capture.h"

namespace {

using namespace vyr::test;

// Input -> sentences handed on, bytes discarded beyond 179 characters.
using FramerCase = std::tuple<std::string, std::vector<std::string>, int>;
const std::string k179 = "$" + std::string(178, 'A');

const FramerCase kFramerCases[] = {
    {"$\r\n$A,1\n$B,2\r$C\r\n", {"$", "$A,1", "$B,2", "$C"}, 0},
    {"xx\r\n\n$A,1\r\n\x01#junk\r$GPG$B\n\n", {"$A,1", "$B"}, 0},
    {"$" + std::string(199, 'A') + "\r\n", {k179}, 21},
    {k179 + "$GPRMC,1\r\n$B\n", {k179, "$B"}, 8},
    // Control, high and low printable bytes (which the word-at-a-time test
    // flags for a closer look) are ordinary inside a sentence.
    {"$GPGGA,\x01\x0E\x7F\xFFx,12345678901234567, !\"#,123456789012,#\n\x0D",
     {"$GPGGA,\x01\x0E\x7F\xFFx,12345678901234567, !\"#,123456789012,#"},
     0},
};

class Framer : public testing::TestWithParam<FramerCase> {};

TEST_P(Framer, HandsOnTheExpectedSentences) {
    const auto& [input, expected, discarded] = GetParam();
    const auto* const bytes = reinterpret_cast<const uint8_t*>(input.data());
    const size_t size = input.size();
    // Byte by byte (run 0), then through frame() in runs of several sizes, also
    // across the word-at-a-time copy and the 179-character limit.
    for (const size_t run : {size_t{0}, size_t{1}, size_t{5}, size_t{64}, size}) {
        vyr::mng::Framer framer;
        std::vector<std::string> sentences;
        // Zero-terminated at its length: nothing stale after it.
        const auto take = [&] {
            EXPECT_EQ(sentences.emplace_back(framer.sentence()).size(), framer.length());
        };
        const std::string log = captureLog([&] {
            for (size_t at = 0; at < size; at += run == 0 ? 1 : run) {
                if (run == 0) {
                    if (framer.frameByte(bytes[at])) take();
                    continue;
                }
                const uint8_t* const end = bytes + std::min(at + run, size);
                for (const uint8_t* p = bytes + at; (p = framer.frame(p, end)) != nullptr;) take();
            }
        });
        EXPECT_EQ(sentences, expected) << "run " << run;
        EXPECT_EQ(countLines(log, "MNG_GPS_MsgReadThread", "ERR should expand buff.*"), discarded)
            << "run " << run;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Framer, testing::ValuesIn(kFramerCases));

}  // namespace
