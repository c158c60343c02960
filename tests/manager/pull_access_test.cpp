// Pull access: results in every manager state, log lines, untouched
// destinations on failure, whole copies on success.
#include <gtest/gtest.h>

#include <functional>

#include "manager/gps_manager.h"
#include "manager_test_support.h"
#include "vyr_platform.h"

namespace vyr::mng {
void PrintTo(MngState state, std::ostream* os) {
    *os << "state " << static_cast<unsigned>(state);
}
}  // namespace vyr::mng

namespace vyr::test {
namespace {

std::string captureCall(uint32_t& result, const std::function<uint32_t()>& call) {
    testing::internal::CaptureStdout();
    result = call();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class PullAccessStates : public testing::TestWithParam<mng::MngState> {};

TEST_P(PullAccessStates, ResultsLogsAndCopies) {
    const mng::MngState state = GetParam();
    const bool started = state == mng::MngState::Start;
    VyrPlatform_SetPrintLevel(1);
    mng::GpsManager& m = mng::manager();
    m.mngState = state;
    std::memset(&m.msgPacket, 0x5A, sizeof(m.msgPacket));
    std::memset(&m.gpsRawData, 0x3C, sizeof(m.gpsRawData));

    uint32_t result = 0;
    std::string out = captureCall(result, [] { return VYR_GPSPARSER_GetData(nullptr); });
    EXPECT_EQ(result, 0xFFFFFFFFu);
    EXPECT_NE(out.find("VYR_GPSPARSER_GetData"), std::string::npos) << out;
    EXPECT_NE(out.find(":pointer[msgPacket] is NULL\n"), std::string::npos) << out;
    out = captureCall(result, [] { return VYR_GPSPARSER_ReadNmea(nullptr); });
    EXPECT_EQ(result, 0xFFFFFFFFu);
    EXPECT_NE(out.find("VYR_GPSPARSER_ReadNmea"), std::string::npos) << out;
    EXPECT_NE(out.find(":pointer[gpsRawData] is NULL\n"), std::string::npos) << out;

    GpsMsgPacket record;
    GpsRawData raw;
    std::memset(&record, 0x11, sizeof(record));
    std::memset(&raw, 0x22, sizeof(raw));
    GpsMsgPacket recordBefore = record;
    GpsRawData rawBefore = raw;
    uint32_t rawResult = 0;
    out = captureCall(result, [&] { return VYR_GPSPARSER_GetData(&record); });
    const std::string outRaw = captureCall(rawResult, [&] { return VYR_GPSPARSER_ReadNmea(&raw); });
    if (started) {
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(rawResult, 0u);
        EXPECT_EQ(out, "");
        EXPECT_EQ(outRaw, "");
        EXPECT_EQ(std::memcmp(&record, &m.msgPacket, sizeof(record)), 0);
        EXPECT_EQ(std::memcmp(&raw, &m.gpsRawData, sizeof(raw)), 0);
    } else {
        EXPECT_EQ(result, VYR_GPS_E_NOT_STARTED);
        EXPECT_EQ(rawResult, VYR_GPS_E_NOT_STARTED);
        EXPECT_NE(out.find("[ERR]\033[m VYR_GPSPARSER_GetData "), std::string::npos) << out;
        EXPECT_NE(out.find(":gps mng has not start!\n"), std::string::npos) << out;
        EXPECT_NE(outRaw.find(":gps mng has not start!\n"), std::string::npos) << outRaw;
        EXPECT_EQ(std::memcmp(&record, &recordBefore, sizeof(record)), 0);
        EXPECT_EQ(std::memcmp(&raw, &rawBefore, sizeof(raw)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(PullAccess, PullAccessStates,
                         testing::Values(mng::MngState::Deinit, mng::MngState::Init,
                                         mng::MngState::Start, mng::MngState::Stop),
                         [](const auto& testInfo) {
                             return std::to_string(static_cast<unsigned>(testInfo.param));
                         });

// Started, before any epoch: an all-zero record; the set shows only the GGA
// once it is the only sentence stored; the copy covers the slots only.
TEST(PullAccess, ZeroRecordBeforeFirstEpochAndPartialSet) {
    mng::manager().mngState = mng::MngState::Start;
    GpsMsgPacket record;
    std::memset(&record, 0x77, sizeof(record));
    ASSERT_EQ(VYR_GPSPARSER_GetData(&record), 0u);
    EXPECT_TRUE(isAllZero(&record, sizeof(record)));

    const std::string sentence = gga("GP", "123519.00");
    feedSentence(sentence);
    GpsRawData raw;
    ASSERT_EQ(VYR_GPSPARSER_ReadNmea(&raw), 0u);
    EXPECT_EQ(slotTexts(raw), slotTexts(RawSet{sentence, {}, "", {}, {}}.build()));
    EXPECT_TRUE(isAllZero(raw.ggaStr + sentence.size(), sizeof(raw) - sentence.size()));
}

}  // namespace
}  // namespace vyr::test
