// The reader's sentence framer, driven byte by byte without a thread.
#include "manager/framer.h"

#include <string>
#include <vector>

#include "support/log_capture.h"
#include "vyr_platform.h"

namespace {

using vyr::mng::Framer;

struct Framed {
    std::vector<std::string> sentences;
    std::string log;
};

// Feeds every byte; checks each handed-on sentence is terminated at its length.
Framed frameAll(Framer& framer, const std::string& input) {
    VyrPlatform_SetPrintLevel(1);  // error lines only
    Framed out;
    out.log = vyr::test::captureLog([&] {
        for (const char c : input) {
            if (framer.frameByte(static_cast<uint8_t>(c))) {
                EXPECT_EQ(framer.sentence()[framer.length()], '\0');
                out.sentences.emplace_back(framer.sentence(), framer.length());
            }
        }
    });
    return out;
}

std::string sentenceOf(size_t length, char fill = 'A') {
    return "$" + std::string(length - 1, fill);
}

struct FramerCase {
    const char* name;
    std::string input;
    std::vector<std::string> sentences;
    int overflowLines;
};

class FramerTable : public testing::TestWithParam<FramerCase> {};

TEST_P(FramerTable, HandsOnTheExpectedSentences) {
    const FramerCase& c = GetParam();
    Framer framer;
    const Framed framed = frameAll(framer, c.input);
    EXPECT_EQ(framed.sentences, c.sentences);
    EXPECT_EQ(vyr::test::countLevel(framed.log, "ERR"), c.overflowLines) << framed.log;
    EXPECT_FALSE(framer.inSentence());
}

const std::string k179 = sentenceOf(179);

std::string caseName(const testing::TestParamInfo<FramerCase>& param) {
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    Sentences, FramerTable,
    testing::Values(FramerCase{"CrLf", "$GPGGA,1*5F\r\n", {"$GPGGA,1*5F"}, 0},
                    FramerCase{"LfAlone", "$GPGGA,1\n$GPRMC,2\n", {"$GPGGA,1", "$GPRMC,2"}, 0},
                    FramerCase{"CrAlone", "$GPGGA,1\r$GPRMC,2\r", {"$GPGGA,1", "$GPRMC,2"}, 0},
                    FramerCase{"BareDollar", "$\r\n", {"$"}, 0},
                    FramerCase{
                        "GarbageAround", "xx\r\n\n$A,1\r\n\x01#junk\r$B\n\n", {"$A,1", "$B"}, 0},
                    FramerCase{"CutByNewDollar", "$GPG$GPRMC,1,A\r\n", {"$GPRMC,1,A"}, 0},
                    FramerCase{"Exactly179", k179 + "\r\n", {k179}, 0},
                    FramerCase{"TwoHundredCharacters", sentenceOf(200) + "\r\n", {k179}, 21},
                    FramerCase{"DollarAfter179", k179 + "$GPRMC,1\r\n$B\n", {k179, "$B"}, 8}),
    caseName);

TEST(Framer, OpenSentenceWaitsForItsLineEnd) {
    Framer framer;
    EXPECT_TRUE(frameAll(framer, "$GPGGA,1").sentences.empty());
    EXPECT_TRUE(framer.inSentence());
    EXPECT_EQ(frameAll(framer, "2\n").sentences, std::vector<std::string>{"$GPGGA,12"});
}

TEST(Framer, OverflowLineNamesTheReaderAndTheByte) {
    Framer framer;
    const Framed framed = frameAll(framer, k179 + "Z$\n");
    EXPECT_EQ(vyr::test::countLines(framed.log, "ERR", "MNG_GPS_MsgReadThread",
                                    "should expand buff size,discard data[Z]\n"),
              1)
        << framed.log;
    EXPECT_EQ(vyr::test::countLines(framed.log, "ERR", "MNG_GPS_MsgReadThread",
                                    "should expand buff size,discard data[$]\n"),
              1);
    EXPECT_EQ(framed.sentences, std::vector<std::string>{k179});
}

// A new sentence starts from a cleared buffer: nothing of a longer earlier
// sentence follows the terminator.
TEST(Framer, NewSentenceClearsTheWholeBuffer) {
    Framer framer;
    (void)frameAll(framer, k179 + "\n$B\n");
    EXPECT_EQ(std::string(framer.sentence(), vyr::mng::kSentenceSize),
              "$B" + std::string(178, '\0'));
}

// A simulated sentence replaces the buffer and length; a device sentence that
// was open goes on after the simulated text.
TEST(Framer, SimulatedTextSharesTheBuffer) {
    Framer framer;
    (void)frameAll(framer, "$GP");
    std::snprintf(framer.buffer(), vyr::mng::kSentenceSize, "%s", "$SIM");
    framer.takeSimulated(4);
    EXPECT_EQ(framer.length(), 4);
    EXPECT_TRUE(framer.inSentence());
    EXPECT_EQ(frameAll(framer, ",1\r\n").sentences, std::vector<std::string>{"$SIM,1"});
}

}  // namespace
