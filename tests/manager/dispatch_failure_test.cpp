// A failing raw-set parse: logged, and the epoch is still delivered and
// cleared. The parse is replaced at link time (-Wl,--wrap).
#include <gtest/gtest.h>

#include "manager/collector.h"
#include "manager/gps_manager.h"
#include "manager_test_support.h"
#include "vyr_platform.h"

// The collector's call to the manager-internal parse.
extern "C" int32_t __real__ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket(
    const GpsRawData* raw, GpsMsgPacket* record);
extern "C" int32_t __wrap__ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket(
    const GpsRawData* raw, GpsMsgPacket* record) {
    __real__ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket(raw, record);
    return -5;
}

namespace vyr::test {
namespace {

TEST(DispatchFailure, LoggedThenDeliveredAndCleared) {
    mng::manager().mngState = mng::MngState::Start;
    int tag = 1;
    const GpsCallbackReg reg = dataReg(&tag);
    ASSERT_EQ(VYR_GPSPARSER_Register(&reg), 0u);
    const std::vector<std::string> stream{gga("GP", "123519.00"), gsa("GP", "04,05,,,,,,,,,,"),
                                          rmc("GP", "123519.00"), gsv("GP", 1, 1, 4)};
    VyrPlatform_SetPrintLevel(1);
    testing::internal::CaptureStdout();
    for (const auto& s : stream) feedSentence(s);
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERR]\033[m GPS_DataProc "), std::string::npos) << out;
    EXPECT_NE(out.find(":Parser GPS Raw data failed!\n"), std::string::npos) << out;
    ASSERT_EQ(recorder().dataCalls.size(), 1u);
    EXPECT_EQ(recorder().dataCalls[0].record.rmc.time.hours, 12);  // the parse's contents
    GpsRawData raw;
    ASSERT_EQ(VYR_GPSPARSER_ReadNmea(&raw), 0u);
    EXPECT_TRUE(isAllZero(&raw, sizeof(raw)));
}

}  // namespace
}  // namespace vyr::test
