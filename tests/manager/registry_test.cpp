// Callback registry: results and slot choices, for both kinds.
#include <gtest/gtest.h>

#include "manager/gps_manager.h"
#include "manager_test_support.h"
#include "vyr_platform.h"

namespace vyr::test {
namespace {

void fnX(const GpsMsgPacket*, void*) {}
void fnY(const GpsMsgPacket*, void*) {}
int u1, u2;

const GpsCallbackReg kA{VYR_GPS_CALLBACK(fnX), &u1};
const GpsCallbackReg kB{VYR_GPS_CALLBACK(fnX), &u2};  // same function, other userData
const GpsCallbackReg kC{VYR_GPS_CALLBACK(fnY), &u1};
const GpsCallbackReg kNull{nullptr, nullptr};
const GpsCallbackReg kNullWithData{nullptr, &u1};
const GpsCallbackReg kEmpty{nullptr, nullptr};

enum class Op { Reg, Unreg };
struct Step {
    Op op;
    const GpsCallbackReg* reg;  // nullptr: a NULL descriptor pointer
    uint32_t expected;
};
struct RegistryCase {
    const char* name;
    std::vector<Step> steps;
    GpsCallbackReg first, second;  // slots afterwards
};

constexpr uint32_t kFull = VYR_GPS_E_SLOTS_FULL, kMissing = VYR_GPS_E_NOT_REGISTERED;

std::vector<RegistryCase> cases() {
    const Op R = Op::Reg, U = Op::Unreg;
    return {
        {"FirstRegistrationTakesSecondSlot", {{R, &kA, 0}}, kEmpty, kA},
        {"NextRegistrationTakesFirstSlot", {{R, &kA, 0}, {R, &kC, 0}}, kC, kA},
        {"DuplicateIsSuccessWithoutChange", {{R, &kA, 0}, {R, &kA, 0}}, kEmpty, kA},
        {"DuplicateOfEitherSlotWhenFull",
         {{R, &kA, 0}, {R, &kC, 0}, {R, &kA, 0}, {R, &kC, 0}},
         kC,
         kA},
        {"SameFunctionOtherUserDataTakesBothSlots", {{R, &kA, 0}, {R, &kB, 0}}, kB, kA},
        {"ThirdDistinctIsRefused", {{R, &kA, 0}, {R, &kC, 0}, {R, &kB, kFull}}, kC, kA},
        {"FreedFirstSlotIsRefilled", {{R, &kA, 0}, {R, &kC, 0}, {U, &kC, 0}, {R, &kB, 0}}, kB, kA},
        {"FreedSecondSlotIsRefilled", {{R, &kA, 0}, {R, &kC, 0}, {U, &kA, 0}, {R, &kB, 0}}, kC, kB},
        {"UnregisterOnlyEmptiesTheMatchingSlot",
         {{R, &kA, 0}, {R, &kC, 0}, {U, &kA, 0}},
         kC,
         kEmpty},
        {"UnregisterOtherUserDataIsRefused", {{R, &kA, 0}, {U, &kB, kMissing}}, kEmpty, kA},
        {"UnregisterOtherFunctionIsRefused", {{R, &kA, 0}, {U, &kC, kMissing}}, kEmpty, kA},
        {"UnregisterOnEmptyRegistryIsRefused", {{U, &kA, kMissing}}, kEmpty, kEmpty},
        {"UnregisterTwiceIsRefusedTheSecondTime",
         {{R, &kA, 0}, {U, &kA, 0}, {U, &kA, kMissing}},
         kEmpty,
         kEmpty},
        {"NullCallbackEqualsAnEmptySlot", {{R, &kNull, 0}, {U, &kNull, 0}}, kEmpty, kEmpty},
        {"NullCallbackWithUserDataIsStoredButStaysEmpty",
         {{R, &kNullWithData, 0}, {R, &kNullWithData, 0}},
         kEmpty,
         kNullWithData},
        {"SlotWithNullCallbackIsChosenAgain", {{R, &kNullWithData, 0}, {R, &kA, 0}}, kEmpty, kA},
        {"NullDescriptorPointerChangesNothing",
         {{R, &kA, 0},
          {R, nullptr, kMissing},
          {U, nullptr, kMissing},
          {R, &kC, 0},
          {R, nullptr, kMissing}},
         kC,
         kA},
    };
}

bool sameSlot(const GpsCallbackReg& a, const GpsCallbackReg& b) {
    return a.callback == b.callback && a.userData == b.userData;
}

void PrintTo(const RegistryCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryCases : public testing::TestWithParam<std::tuple<RegistryCase, bool>> {};

TEST_P(RegistryCases, ResultsAndSlots) {
    const auto& [c, nmeaKind] = GetParam();
    auto reg = nmeaKind ? VYR_GPSPARSER_RegNMEARecvCbk : VYR_GPSPARSER_Register;
    auto unreg = nmeaKind ? VYR_GPSPARSER_UnregNMEARecvCbk : VYR_GPSPARSER_UnRegister;
    VyrPlatform_SetPrintLevel(4);
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        EXPECT_EQ((step.op == Op::Reg ? reg : unreg)(step.reg), step.expected) << "step " << i;
    }
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the registry logs nothing";
    mng::GpsManager& m = mng::manager();
    const GpsCallbackReg* slots = nmeaKind ? m.nmeaCbk : m.dataCbk;
    const GpsCallbackReg* other = nmeaKind ? m.dataCbk : m.nmeaCbk;
    EXPECT_TRUE(sameSlot(slots[0], c.first));
    EXPECT_TRUE(sameSlot(slots[1], c.second));
    EXPECT_TRUE(isAllZero(other, 2 * sizeof(GpsCallbackReg))) << "the other kind is untouched";
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryCases,
                         testing::Combine(testing::ValuesIn(cases()), testing::Bool()),
                         [](const auto& testInfo) {
                             return std::string(std::get<0>(testInfo.param).name) +
                                    (std::get<1>(testInfo.param) ? "_Nmea" : "_Data");
                         });

// An NMEA callback gets the sentence, its length and its userData; once
// unregistered it is not called again; a slot with a null callback is skipped.
TEST(Registry, NotificationCallsOccupiedSlotsOnly) {
    int tag = 7;
    const GpsCallbackReg reg = nmeaReg(&tag);
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&kNullWithData), 0u);  // second slot, never called
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&reg), 0u);            // takes the second slot too
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&kNullWithData), 0u);  // now first slot
    EXPECT_EQ(GPS_Notify_Nmea_Packet("$GPGLL,abc", 10), 0);
    ASSERT_EQ(recorder().nmeaCalls.size(), 1u);
    EXPECT_EQ(recorder().nmeaCalls[0].tag, 7);
    EXPECT_EQ(recorder().nmeaCalls[0].sentence, "$GPGLL,abc");
    EXPECT_EQ(recorder().nmeaCalls[0].len, 10u);
    ASSERT_EQ(VYR_GPSPARSER_UnregNMEARecvCbk(&reg), 0u);
    EXPECT_EQ(GPS_Notify_Nmea_Packet("$GPGLL,def", 10), 0);
    EXPECT_EQ(recorder().nmeaCalls.size(), 1u);
}

}  // namespace
}  // namespace vyr::test
