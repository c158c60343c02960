// Epoch collection and dispatch: whole receiver bursts fed sentence by
// sentence, with recording callbacks.
#include "manager/collector.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "manager/gps_manager.h"
#include "manager_test_support.h"
#include "vyr_platform.h"

namespace vyr::test {
namespace {

struct Delivery {
    size_t at;  // index of the sentence that completes the epoch
    RawSet raw;
};

struct Scenario {
    const char* name;
    std::vector<std::string> stream;
    std::vector<Delivery> deliveries;
    RawSet pendingAtEnd;  // what ReadNmea shows after the last sentence
};

const std::string kT1 = "123519.00", kT2 = "123520.00", kT3 = "123521.00";
const std::string kIdsA = "04,05,,09,12,,,24,,,,", kIdsB = "201,202,207,,,,,,,,,";
const std::string kIdsC = "13,14,15,,,,,,,,,";

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<Scenario> scenarios() {
    const std::string gga1 = gga("GP", kT1), gga2 = gga("GP", kT2), gga3 = gga("GP", kT3);
    const std::string rmc1 = rmc("GP", kT1), rmc2 = rmc("GP", kT2), rmc3 = rmc("GP", kT3);
    const std::string gsaA = gsa("GP", kIdsA), gsaB = gsa("GN", kIdsB), gsaC = gsa("GN", kIdsC);
    const std::string g13 = gsv("GP", 3, 1, 1), g23 = gsv("GP", 3, 2, 5), g33 = gsv("GP", 3, 3, 9);
    const std::string g11 = gsv("GP", 1, 1, 4), g12 = gsv("GP", 2, 1, 1), g22 = gsv("GP", 2, 2, 5);
    const std::string b12 = gsv("BD", 2, 1, 201), b22 = gsv("BD", 2, 2, 205);
    const std::string b11 = gsv("BD", 1, 1, 201);
    std::vector<std::string> g4, g5;
    for (int n = 1; n <= 4; ++n) g4.push_back(gsv("GP", 4, n, 4 * n - 3));
    for (int n = 1; n <= 5; ++n) g5.push_back(gsv("GP", 5, n, 4 * n - 3));
    const std::string gsvEmpty = nmea("GPGSV,,,12,01,40,083,46");
    const std::string gsvNum0 = nmea("GPGSV,2,0,08,01,40,083,46"), gsvNum5 = gsv("GP", 5, 5, 17);
    const std::string txtGga = nmea("GPTXT,01,01,02,GNGGA in a text field");
    const std::string gsvRmc = nmea("GPGSV,1,1,04,01,40,083,46,GNRMC");
    const std::string longGga = gga("GP", kT1) + std::string(130, '7');

    const RawSet gpsOnly1{gga1, {gsaA, ""}, rmc1, {g13, g23, g33, ""}, {}};
    return {
        {"GpsOnlyRmcLast",
         {gga1, gsaA, g13, g23, g33, rmc1, gga2, gsaA, g13, g23, g33, rmc2},
         {{5, gpsOnly1}, {11, {gga2, {gsaA, ""}, rmc2, {g13, g23, g33, ""}, {}}}},
         {}},
        {"GpsOnlyRmcBeforeGsv", {gga1, gsaA, rmc1, g13, g23, g33}, {{5, gpsOnly1}}, {}},
        {"RmcBeforeGga",
         {rmc1, gga1, gsaA, g11, rmc2, gga2, gsaA, g11, rmc3},
         {{4, {gga1, {gsaA, ""}, rmc2, {g11, "", "", ""}, {}}},
          {8, {gga2, {gsaA, ""}, rmc3, {g11, "", "", ""}, {}}}},
         {}},
        {"TwoGsa", {gga1, gsaA, gsaB, g11, rmc1}, {{4, {gga1, {gsaA, gsaB}, rmc1, {g11}, {}}}}, {}},
        {"ThreeGsaLastOverwritesSecond",
         {gga1, gsaA, gsaB, gsaC, g11, rmc1},
         {{5, {gga1, {gsaA, gsaC}, rmc1, {g11}, {}}}},
         {}},
        {"GsvSeriesOfFour",
         concat({{gga1, gsaA, rmc1}, g4}),
         {{6, {gga1, {gsaA, ""}, rmc1, {g4[0], g4[1], g4[2], g4[3]}, {}}}},
         {}},
        {"GsvSeriesOfFiveCompletesAtFour",
         concat({{gga1, gsaA, rmc1}, g5}),
         {{6, {gga1, {gsaA, ""}, rmc1, {g5[0], g5[1], g5[2], g5[3]}, {}}}},
         {}},
        {"ShortGsvSeries",
         {gga1, gsaA, rmc1, g33},
         {{3, {gga1, {gsaA, ""}, rmc1, {"", "", g33}, {}}}},
         {}},
        {"GsvWithEmptyCountersDropped",
         {gga1, gsaA, rmc1, gsvEmpty},
         {},
         {gga1, {gsaA, ""}, rmc1, {}, {}}},
        {"GsvNumberOutOfRangeDropped",
         {gga1, gsaA, rmc1, gsvNum0, gsvNum5, g11},
         {{5, {gga1, {gsaA, ""}, rmc1, {g11}, {}}}},
         {}},
        {"SentencesBeforeGgaDropped", {gsaA, rmc1, g11, b11, gga1}, {}, {gga1, {}, "", {}, {}}},
        {"FirstEpochUsesGpsMaskThenBeidouRequired",
         {gga1, gsaA, gsaB, rmc1, g12, g22, b12, b22, gga2, gsaA, gsaB, rmc2, g12, g22, b12, b22},
         {{5, {gga1, {gsaA, gsaB}, rmc1, {g12, g22}, {}}},
          {15, {gga2, {gsaA, gsaB}, rmc2, {g12, g22}, {b12, b22}}}},
         {}},
        {"BeidouSeriesStartsMidLife",
         {gga1, gsaA, rmc1, g11, gga2, gsaA, rmc2, b11, g11, gga3, gsaA, rmc3, g11, b11},
         {{3, {gga1, {gsaA, ""}, rmc1, {g11}, {}}},
          {8, {gga2, {gsaA, ""}, rmc2, {g11}, {b11}}},
          {13, {gga3, {gsaA, ""}, rmc3, {g11}, {b11}}}},
         {}},
        {"BeidouStopsNoMoreDeliveries",
         {gga1, gsaA, rmc1, b11, g11, gga2, gsaA, rmc2, g11, gga3, gsaA, rmc3, g11},
         {{4, {gga1, {gsaA, ""}, rmc1, {g11}, {b11}}}},
         {gga3, {gsaA, gsaA}, rmc3, {g11}, {}}},
        {"GgaInOpenEpochOverwritesOnlyGga",
         {gga1, gsaA, g11, gga2, rmc2},
         {{4, {gga2, {gsaA, ""}, rmc2, {g11}, {}}}},
         {}},
        {"NamesAnywhereFirstGroupWins",
         {txtGga, gsaB, gsv("GL", 1, 1, 65), nmea("BDGSA,A,3,201,,,,,,,,,,,,1.0,1.0,1.0"),
          nmea("GPVTG,084.4,T,,M,022.4,N,041.5,K,A"), gsvRmc, g11},
         {{6, {txtGga, {gsaB, ""}, gsvRmc, {g11}, {}}}},
         {}},
        {"OverlongSentenceCutTo179",
         {longGga, gsaA, rmc1, g11},
         {{3, {longGga.substr(0, 179), {gsaA, ""}, rmc1, {g11}, {}}}},
         {}},
    };
}

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

class CollectorScenario : public testing::TestWithParam<Scenario> {};

TEST_P(CollectorScenario, DeliversEachEpochOnceAtItsLastSentence) {
    const Scenario& scenario = GetParam();
    mng::manager().mngState = mng::MngState::Start;  // for ReadNmea
    int tagA = 1, tagB = 2;
    const GpsCallbackReg a = dataReg(&tagA), b = dataReg(&tagB);
    ASSERT_EQ(VYR_GPSPARSER_Register(&a), 0u);  // second slot
    ASSERT_EQ(VYR_GPSPARSER_Register(&b), 0u);  // first slot

    size_t next = 0;
    for (size_t i = 0; i < scenario.stream.size(); ++i) {
        recorder().sentenceIndex = i;
        feedSentence(scenario.stream[i]);
        const bool completes =
            next < scenario.deliveries.size() && scenario.deliveries[next].at == i;
        ASSERT_EQ(recorder().dataCalls.size(), 2 * (next + (completes ? 1 : 0)))
            << "after sentence " << i << ": " << scenario.stream[i];
        if (completes) {
            ++next;
            GpsRawData after;
            ASSERT_EQ(VYR_GPSPARSER_ReadNmea(&after), 0u);
            EXPECT_TRUE(isAllZero(&after, sizeof(after))) << "set not cleared after sentence " << i;
            EXPECT_TRUE(isAllZero(&mng::manager().rawHeader, sizeof(mng::GpsRawHeader)));
        }
    }

    GpsMsgPacket reference{};  // the record is never cleared between epochs
    for (size_t d = 0; d < scenario.deliveries.size(); ++d) {
        SCOPED_TRACE("delivery " + std::to_string(d));
        const DataCall& first = recorder().dataCalls[2 * d];
        const DataCall& second = recorder().dataCalls[2 * d + 1];
        EXPECT_EQ(first.tag, tagB);  // first slot, registered last
        EXPECT_EQ(second.tag, tagA);
        EXPECT_EQ(first.atSentence, scenario.deliveries[d].at);
        const GpsRawData expectedRaw = scenario.deliveries[d].raw.build();
        EXPECT_EQ(slotTexts(first.raw), slotTexts(expectedRaw));
        ASSERT_EQ(GPSPARSER_ParseRawData(&expectedRaw, &reference), 0);
        EXPECT_EQ(std::memcmp(&first.record, &reference, sizeof(reference)), 0);
        EXPECT_EQ(std::memcmp(&second.record, &reference, sizeof(reference)), 0);
    }
    GpsRawData pending;
    ASSERT_EQ(VYR_GPSPARSER_ReadNmea(&pending), 0u);
    EXPECT_EQ(slotTexts(pending), slotTexts(scenario.pendingAtEnd.build()));
}

INSTANTIATE_TEST_SUITE_P(Bursts, CollectorScenario, testing::ValuesIn(scenarios()),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Registration order decides the call order: the first registration takes
// the second slot. NMEA callbacks see every sentence, also ignored ones.
TEST(Collector, CallOrderFollowsSlotsInBothRegistrationOrders) {
    for (const bool aFirst : {true, false}) {
        SCOPED_TRACE(aFirst ? "A registered first" : "B registered first");
        recorder() = Recorder{};
        mng::manager().mngState = mng::MngState::Start;  // recordData reads the set
        int tagA = 1, tagB = 2;
        const GpsCallbackReg dataA = dataReg(&tagA), dataB = dataReg(&tagB);
        const GpsCallbackReg nmeaA = nmeaReg(&tagA), nmeaB = nmeaReg(&tagB);
        for (const GpsCallbackReg* reg :
             aFirst ? std::vector{&dataA, &dataB} : std::vector{&dataB, &dataA}) {
            ASSERT_EQ(VYR_GPSPARSER_Register(reg), 0u);
        }
        for (const GpsCallbackReg* reg :
             aFirst ? std::vector{&nmeaA, &nmeaB} : std::vector{&nmeaB, &nmeaA}) {
            ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(reg), 0u);
        }
        const std::vector<std::string> stream{gga("GN", kT1), gsa("GN", kIdsA),
                                              nmea("GPVTG,084.4,T,,M,022.4,N,041.5,K,A"),
                                              rmc("GN", kT1), gsv("GP", 1, 1, 1)};
        for (const auto& s : stream) feedSentence(s);

        const int firstTag = aFirst ? tagB : tagA, secondTag = aFirst ? tagA : tagB;
        ASSERT_EQ(recorder().dataCalls.size(), 2u);
        EXPECT_EQ(recorder().dataCalls[0].tag, firstTag);
        EXPECT_EQ(recorder().dataCalls[1].tag, secondTag);
        ASSERT_EQ(recorder().nmeaCalls.size(), 2 * stream.size());
        for (size_t i = 0; i < stream.size(); ++i) {
            for (size_t k = 0; k < 2; ++k) {
                const NmeaCall& call = recorder().nmeaCalls[2 * i + k];
                EXPECT_EQ(call.tag, k == 0 ? firstTag : secondTag);
                EXPECT_EQ(call.sentence, stream[i]);
                EXPECT_EQ(call.len, stream[i].size());
            }
        }
        for (const GpsCallbackReg* reg : {&dataA, &dataB})
            EXPECT_EQ(VYR_GPSPARSER_UnRegister(reg), 0u);
        for (const GpsCallbackReg* reg : {&nmeaA, &nmeaB})
            EXPECT_EQ(VYR_GPSPARSER_UnregNMEARecvCbk(reg), 0u);
    }
}

size_t countOccurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++count;
    }
    return count;
}

TEST(Collector, SupportBdWarningOnceInTheLifeOfTheProcess) {
    VyrPlatform_SetPrintLevel(2);
    testing::internal::CaptureStdout();
    mng::GPSPARSER_MsgProc(gsv("BD", 1, 1, 201).c_str());  // epoch not open: still counts
    mng::GPSPARSER_MsgProc(gga("GP", kT1).c_str());
    mng::GPSPARSER_MsgProc(gsv("BD", 1, 1, 201).c_str());
    mng::GPSPARSER_MsgProc(gsv("BD", 2, 1, 201).c_str());
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOccurrences(out, "SupportBD!\n"), 1u) << out;
    EXPECT_NE(out.find("[WAR]\033[m GPSPARSER_MsgProc "), std::string::npos) << out;
    EXPECT_EQ(mng::manager().bdSupported, 1u);

    VyrPlatform_SetPrintLevel(1);  // warnings suppressed: nothing printed
    testing::internal::CaptureStdout();
    mng::manager().bdSupported = 0;
    mng::GPSPARSER_MsgProc(gsv("BD", 1, 1, 201).c_str());
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(mng::manager().bdSupported, 1u);
}

// The GSV counters must be read exactly as sscanf(text, "$GPGSV,%d,%d,")
// reads them. Each input goes into a freshly opened epoch; the counters and
// the slot it lands in are compared with what sscanf gives.
void expectGsvReadLikeSscanf(const std::string& text, bool beidou) {
    SCOPED_TRACE(text);
    mng::GpsManager& m = mng::manager();
    m.rawHeader = mng::GpsRawHeader{mng::kFlagGga, 0, 0, 0, 0};
    std::memset(&m.gpsRawData, 0, sizeof(m.gpsRawData));
    m.bdSupported = 1;
    mng::GPSPARSER_MsgProc(text.c_str());

    int total = 0, number = 0;
    std::sscanf(text.c_str(), beidou ? "$BDGSV,%d,%d," : "$GPGSV,%d,%d,", &total, &number);
    const int32_t gotNum = beidou ? m.rawHeader.bdGsvNum : m.rawHeader.gpGsvNum;
    const int32_t gotTotal = beidou ? m.rawHeader.bdGsvTotal : m.rawHeader.gpGsvTotal;
    auto& slots = beidou ? m.gpsRawData.bdGsvStr : m.gpsRawData.gpGsvStr;
    if (number < 1 || number > 4) {
        EXPECT_EQ(gotNum, 0);
        EXPECT_EQ(gotTotal, 0);
        EXPECT_TRUE(isAllZero(&m.gpsRawData, sizeof(m.gpsRawData)));
        return;
    }
    EXPECT_EQ(gotNum, number);
    EXPECT_EQ(gotTotal, total >= 4 ? 4 : total);
    EXPECT_EQ(std::string(slots[number - 1]), text.substr(0, 179));
    const uint32_t bit = beidou ? mng::kFlagBdGsvComplete : mng::kFlagGpGsvComplete;
    EXPECT_EQ((m.rawHeader.flags & bit) != 0, gotTotal == gotNum);
}

TEST(Collector, GsvCountersReadExactlyAsSscanf) {
    const std::vector<std::string> tails = {"3,1,",
                                            "3,3,",
                                            " 3, 1,",
                                            "\t3,\n2,",
                                            "\v2,\f2,",
                                            "\r1,\r1,",
                                            "+3,+3,",
                                            "-3,1,",
                                            "3,-1,",
                                            ",1,",
                                            "3,,",
                                            ",,",
                                            "3 ,1,",
                                            "3, 1 ,",
                                            "3,1",
                                            "3,1*7F",
                                            "3",
                                            "",
                                            "03,02,",
                                            "0x3,1,",
                                            "3,0x1,",
                                            "- 3,1,",
                                            "+,1,",
                                            "3,+4,",
                                            "5,5,",
                                            "7,4,",
                                            "4,4,",
                                            "0,1,",
                                            "-1,1,",
                                            "2147483647,2,",
                                            "2147483648,2,",
                                            "-2147483648,1,",
                                            "-2147483649,1,",
                                            "4294967298,2,",
                                            "4294967299,3,",
                                            "-4294967294,2,",
                                            "1,4294967300,",
                                            "1,-4294967295,",
                                            "9223372036854775807,1,",
                                            "9223372036854775808,1,",
                                            "18446744073709551617,1,",
                                            "3,9223372036854775808,",
                                            "3,-9223372036854775808,",
                                            "3,-9223372036854775809,",
                                            "99999999999999999999999999,2,",
                                            "3,1,04,01,40,083,46",
                                            "a,1,",
                                            "3;1,"};
    for (const bool beidou : {false, true}) {
        const std::string prefix = beidou ? "$BDGSV," : "$GPGSV,";
        for (const auto& tail : tails) expectGsvReadLikeSscanf(prefix + tail, beidou);
        // The name anywhere classifies, but the counters are read only at the start.
        const std::string name = beidou ? "BDGSV" : "GPGSV";
        for (const std::string& text :
             {"$$" + name + ",3,1,", "xx$" + name + ",3,1,", name + ",3,1,", "$" + name + "X,3,1,",
              "$GLGSV,3,1,04," + prefix + "2,2,"}) {
            expectGsvReadLikeSscanf(text, beidou);
        }
    }
    // Random tails over the characters that matter to the conversion.
    std::mt19937 random(12345);
    const std::string alphabet = "0123456789012345678901234567899,,,,  +-\t*x";
    for (int i = 0; i < 20000; ++i) {
        std::string tail;
        const int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k) tail += alphabet[random() % alphabet.size()];
        expectGsvReadLikeSscanf("$GPGSV," + tail, false);
        if (HasFailure()) return;
    }
}

TEST(Collector, ReplaceGnToGpRewritesFirstOccurrences) {
    struct Case {
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"$GNGGA,1*00", "$GPGGA,1*00"},
        {"$GNRMC,1*00", "$GPRMC,1*00"},
        {"$GNGGA,GNRMC,GNGGA,GNRMC", "$GPGGA,GPRMC,GNGGA,GNRMC"},
        {"$GNGSA,GNVTG,GN", "$GNGSA,GNVTG,GN"},
        {"xGNGG", "xGNGG"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.in.begin(), c.in.end());
        text.push_back('\0');
        text.push_back('Z');  // beyond the terminator: untouched
        VyrReplaceGNToGP(text.data());
        EXPECT_EQ(std::string(text.data()), c.out);
        EXPECT_EQ(text.back(), 'Z');
    }
    VyrReplaceGNToGP(nullptr);
}

}  // namespace
}  // namespace vyr::test
