// Manager: callback registry, epoch collection and dispatch, pull access, real
// captures and concurrent use. The collector is driven directly, as the reader
// thread drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "manager/collector.h"
#include "manager/gps_manager.h"
#include "nmea/parsers.h"
#include "vyr_platform.h"

namespace vyr::test {
using mng::manager;

std::string gga(const std::string& time, const std::string& lat = "4807.038") {
    return "$GPGGA," + time + "," + lat + ",N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
}
std::string rmc(const std::string& time, const std::string& lat = "4807.038",
                const std::string& course = "084.4") {
    return "$GPRMC," + time + ",A," + lat + ",N,01131.000,E,022.4," + course + ",230394,,";
}
std::string gsa(const std::string& ids) {
    return "$GPGSA,A,3," + ids + ",,,,,,,,,,2.5,1.3,2.1";
}
std::string gsv(const std::string& talker, int total, int number) {
    return "$" + talker + "GSV," + std::to_string(total) + "," + std::to_string(number) + ",08," +
           std::to_string(10 + number) + ",40,083,46";
}

// Recording callbacks; userData points to a one-letter tag. Callbacks run on
// the feeding thread.
char gTags[] = "ABC";
std::string gCalls;
std::vector<GpsMsgPacket> gDeliveries;
template <int F>
void onData(const GpsMsgPacket* record, void* tag) {
    gCalls += *static_cast<char*>(tag);
    gDeliveries.push_back(*record);
}
template <int F>
void onNmea(const char*, uint32_t, void* tag) {
    gCalls += *static_cast<char*>(tag);
}

// Registers (or unregisters) A or B (one function, two userData values) or C
// (another function) as a data (kind 0) or NMEA callback; who 0 passes NULL.
uint32_t registry(size_t kind, bool reg, char who) {
    const GpsCallbackFn fns[2][2] = {{VYR_GPS_CALLBACK(onData<0>), VYR_GPS_CALLBACK(onData<1>)},
                                     {VYR_GPS_CALLBACK(onNmea<0>), VYR_GPS_CALLBACK(onNmea<1>)}};
    uint32_t (*const ops[2][2])(const GpsCallbackReg*) = {
        {VYR_GPSPARSER_UnRegister, VYR_GPSPARSER_Register},
        {VYR_GPSPARSER_UnregNMEARecvCbk, VYR_GPSPARSER_RegNMEARecvCbk}};
    const GpsCallbackReg desc{fns[kind][who == 'C'], &gTags[who ? who - 'A' : 0]};
    return ops[kind][reg](who ? &desc : nullptr);
}

// Steps (register?, who, result), then the tags in call order. Each row runs
// for both kinds while the other kind holds C and A.
TEST(Manager, RegistryResultsAndCallOrder) {
    constexpr uint32_t kFull = VYR_GPS_E_SLOTS_FULL, kNone = VYR_GPS_E_NOT_REGISTERED;
    const std::vector<std::pair<std::vector<std::tuple<bool, char, uint32_t>>, std::string>> rows =
        {{{{1, 'A', 0}, {1, 'C', 0}}, "CA"},
         {{{1, 'A', 0}, {1, 'A', 0}, {1, 'C', 0}}, "CA"},
         {{{1, 'A', 0}, {1, 'B', 0}}, "BA"},
         {{{1, 'A', 0}, {1, 'C', 0}, {1, 'B', kFull}}, "CA"},
         {{{1, 'A', 0}, {0, 'B', kNone}}, "A"},
         {{{1, 'A', 0}, {1, 'C', 0}, {0, 'C', 0}, {1, 'B', 0}}, "BA"},
         {{{1, 'A', 0}, {1, 'C', 0}, {0, 'A', 0}, {1, 'B', 0}}, "CB"},
         {{{1, 'A', 0}, {1, 0, kNone}, {0, 0, kNone}}, "A"}};
    VyrPlatform_SetPrintLevel(0);
    for (size_t i = 0; i < 2 * rows.size(); ++i) {
        const size_t kind = i % 2;
        const auto& [steps, calls] = rows[i / 2];
        SCOPED_TRACE(testing::Message() << "kind " << kind << ", row " << i / 2);
        std::memset(manager().dataCbk, 0, sizeof(manager().dataCbk));
        std::memset(manager().nmeaCbk, 0, sizeof(manager().nmeaCbk));
        ASSERT_EQ(registry(1 - kind, 1, 'A') | registry(1 - kind, 1, 'C'), 0u);
        for (const auto& [reg, who, result] : steps) EXPECT_EQ(registry(kind, reg, who), result);
        gCalls.clear();
        mng::GPS_DataProc();
        GPS_Notify_Nmea_Packet("$X", 2);
        EXPECT_EQ(gCalls, kind == 0 ? calls + "CA" : "CA" + calls);
    }
}

// Per delivery: the index of the sentence that completes it, and for each slot
// of its raw set (GGA, GSA 1-2, RMC, GPS GSV 1-4, BeiDou GSV 1-4) the stream
// index in hex, '.' for an empty slot.
struct Scenario {
    const char* name;
    std::vector<std::string> stream;
    std::vector<std::pair<size_t, std::string>> deliveries;
};
std::vector<Scenario> scenarios() {
    const std::string gga1 = gga("123519.00"), gga2 = gga("123520.00"), rmc1 = rmc("123519.00"),
                      rmc2 = rmc("123520.00"), sa = gsa("04,05"), sb = gsa("13,14");
    const std::string b11 = gsv("BD", 1, 1), b21 = gsv("BD", 2, 1), b22 = gsv("BD", 2, 2);
    auto g = [](int total, int number) { return gsv("GP", total, number); };  // GPS GSV
    return {
        {"GpsOnly", {gga1, sa, g(3, 1), g(3, 2), g(3, 3), rmc1}, {{5, "01.5234"}}},
        {"RmcBeforeGsv", {gga1, sa, rmc1, g(3, 1), g(3, 2), g(3, 3)}, {{5, "01.2345"}}},
        {"RmcBeforeGga", {rmc1, gga1, sa, g(1, 1), rmc2}, {{4, "12.43"}}},
        {"TwoGsa", {gga1, sa, sb, g(1, 1), rmc1}, {{4, "01243"}}},
        {"ThreeGsa", {gga1, sa, sb, gsa("201"), g(1, 1), rmc1}, {{5, "01354"}}},
        {"Gsv5", {gga1, sa, rmc1, g(5, 1), g(5, 2), g(5, 3), g(5, 4), g(5, 5)}, {{6, "01.23456"}}},
        {"Gsv5Of5", {gga1, sa, rmc1, g(5, 5), g(1, 1)}, {{4, "01.24"}}},
        {"GsvLastAlone", {gga1, sa, rmc1, g(3, 3)}, {{3, "01.2..3"}}},
        {"GsvEmpty", {gga1, sa, rmc1, "$GPGSV,,,08,11", "$GPGSV,1,,08,11"}, {}},
        {"BdFirst",
         {gga1, sa, rmc1, b11, g(1, 1), gga2, sa, rmc2, g(1, 1), b11},
         {{4, "01.24...3"}, {9, "56.78...9"}}},
        {"BdLate",
         {gga1, sa, sb, rmc1, g(2, 1), g(2, 2), b21, b22, gga2, sa, sb, rmc2, g(2, 1), g(2, 2), b21,
          b22},
         {{5, "012345"}, {15, "89abcd..ef"}}},
    };
}

class Bursts : public testing::TestWithParam<Scenario> {};

TEST_P(Bursts, DeliveredOnceWhenComplete) {
    const auto& [name, stream, deliveries] = GetParam();
    manager().mngState = mng::MngState::Start;
    ASSERT_EQ(registry(0, 1, 'A') | registry(0, 1, 'B'), 0u);
    testing::internal::CaptureStdout();
    for (size_t i = 0, done = 0; i < stream.size(); ++i) {
        mng::GPSPARSER_MsgProc(stream[i].c_str());
        const bool completes = done < deliveries.size() && deliveries[done].first == i;
        ASSERT_EQ(gDeliveries.size(), 2 * (done += completes)) << "after sentence " << i;
        GpsRawData after{}, zero{};
        EXPECT_TRUE(!completes || (VYR_GPSPARSER_ReadNmea(&after) == 0 &&
                                   std::memcmp(&after, &zero, sizeof(zero)) == 0))
            << i;
    }
    fflush(stdout);
    const bool beidou = std::any_of(stream.begin(), stream.end(),
                                    [](const std::string& s) { return s.find("BDGSV") == 1; });
    EXPECT_TRUE(std::regex_match(
        testing::internal::GetCapturedStdout(),
        std::regex(beidou ? ".*\\[WAR\\]\033\\[m GPSPARSER_MsgProc \\d+ :SupportBD!\n" : "")));

    GpsMsgPacket reference{};  // the record is kept between epochs
    for (size_t d = 0; d < deliveries.size(); ++d) {
        GpsRawData raw{};
        for (size_t k = 0; k < deliveries[d].second.size(); ++k) {
            const std::string index = deliveries[d].second.substr(k, 1);
            if (index != ".")
                std::strcpy(reinterpret_cast<char(*)[VYR_GPS_SENTENCE_SIZE]>(&raw)[k],
                            stream[std::stoul(index, nullptr, 16)].c_str());
        }
        ASSERT_EQ(nmea::GPSPARSER_ParseRawData(&raw, &reference), 0);
        EXPECT_EQ(gCalls.substr(2 * d, 2), "BA");
        EXPECT_EQ(std::memcmp(&gDeliveries[2 * d], &reference, sizeof(reference)), 0) << d;
        EXPECT_EQ(std::memcmp(&gDeliveries[2 * d + 1], &reference, sizeof(reference)), 0) << d;
    }
}

INSTANTIATE_TEST_SUITE_P(Manager, Bursts, testing::ValuesIn(scenarios()),
                         [](const auto& param) { return std::string(param.param.name); });

// The counters must be read as sscanf(text, "$GPGSV,%d,%d,") reads them.
TEST(Manager, GsvCountersReadAsSscanf) {
    for (const char* text :
         {"$GPGSV, 3,\t2,", "$GPGSV,+3,+3,", "$GPGSV,-3,1,", "$GPGSV,3,-1,", "$GPGSV,,1,",
          "$GPGSV,3,,", "$GPGSV,3 ,1,", "$GPGSV,4294967298,2,", "$GPGSV,1,4294967300,",
          "$GPGSV,99999999999999999999,1,", "$BDGSV,7,4,", "$BDGSV,2,+2,", "x$GPGSV,3,3,",
          "$GLGSV,1,1,04,$GPGSV,2,2,"}) {
        mng::GpsRawHeader& header = manager().rawHeader;
        header = {mng::kFlagGga, 0, 0, 0, 0};
        mng::GPSPARSER_MsgProc(text);
        const bool beidou = std::strstr(text, "BDGSV") != nullptr;
        int total = 0, number = 0;
        std::sscanf(text, beidou ? "$BDGSV,%d,%d," : "$GPGSV,%d,%d,", &total, &number);
        if (number < 1 || number > 4) total = number = 0;
        EXPECT_EQ(beidou ? header.bdGsvNum : header.gpGsvNum, number) << text;
        EXPECT_EQ(beidou ? header.bdGsvTotal : header.gpGsvTotal, std::min(total, 4)) << text;
    }
}

// Only the first GNGGA and the first GNRMC change, each in its talker letter.
TEST(Manager, ReplaceGNToGP) {
    const std::pair<const char*, const char*> cases[] = {
        {"$GNGGA,1,GNRMC,GNGGA", "$GPGGA,1,GPRMC,GNGGA"},
        {"$GNRMC,x$GNRMC", "$GPRMC,x$GNRMC"},
        {"$GNGSA,GPGGA,GNGG", "$GNGSA,GPGGA,GNGG"},
    };
    for (const auto& [input, expected] : cases) {
        char text[32];
        std::strcpy(text, input);
        VyrReplaceGNToGP(text);
        EXPECT_STREQ(text, expected) << input;
    }
    VyrReplaceGNToGP(nullptr);
}

TEST(Manager, PullAccessInEachState) {
    VyrPlatform_SetPrintLevel(0);
    std::memset(&manager().msgPacket, 0x5A, sizeof(GpsMsgPacket));
    std::memset(&manager().gpsRawData, 0x3C, sizeof(GpsRawData));
    for (const auto state :
         {mng::MngState::Deinit, mng::MngState::Init, mng::MngState::Start, mng::MngState::Stop}) {
        manager().mngState = state;
        const uint32_t expected = state == mng::MngState::Start ? 0 : VYR_GPS_E_NOT_STARTED;
        EXPECT_EQ(VYR_GPSPARSER_GetData(nullptr) & VYR_GPSPARSER_ReadNmea(nullptr), 0xFFFFFFFFu);
        GpsMsgPacket record{};
        GpsRawData raw{};
        EXPECT_EQ(VYR_GPSPARSER_GetData(&record), expected);
        EXPECT_EQ(VYR_GPSPARSER_ReadNmea(&raw), expected);
        EXPECT_EQ(std::memcmp(&record, &manager().msgPacket, sizeof(record)) == 0 &&
                      std::memcmp(&raw, &manager().gpsRawData, sizeof(raw)) == 0,
                  expected == 0);
    }
}

int hhmmss(const GpsTime& t) {
    return t.hours * 10000 + t.minutes * 100 + t.seconds;
}

// Every capture line from its last "$" goes through the collector and through
// a model of the completion rule written with strstr and sscanf; the files
// form one stream. Names carry their group number.
TEST(Manager, CapturesDeliverAsModelled) {
    const std::filesystem::path dir = VYR_TEST_SHARED_CAPTURE_DIR;
    if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no capture folder at " << dir;
    VyrPlatform_SetPrintLevel(0);
    ASSERT_EQ(registry(0, 1, 'A'), 0u);
    const char* names[] = {"0GNGGA", "0BDGGA", "0GPGGA", "1GPGSA", "1GNGSA",
                           "2GNRMC", "2GPRMC", "3GPGSV", "4BDGSV"};
    unsigned flags = 0, mask = 23;
    size_t deliveries = 0;
    std::string ggaText, rmcText;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const auto ext = entry.path().extension();  // directories have none
        if (ext != ".log" && ext != ".nmea") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            line = line.substr(0, line.find('\r'));
            if (line.find('$') == std::string::npos) continue;
            const std::string s = line.substr(line.rfind('$'), 179);
            int group = 5, total = 0, number = 0;
            for (int k = 8; k >= 0; --k)
                group = std::strstr(s.c_str(), names[k] + 1) ? names[k][0] - '0' : group;
            std::sscanf(s.c_str(), group == 4 ? "$BDGSV,%d,%d," : "$GPGSV,%d,%d,", &total, &number);
            const unsigned gsvBit = number >= 1 && number <= 4 && std::min(total, 4) == number;
            mask |= group == 4 ? 55 : 0;
            ggaText = group == 0 ? s : ggaText;
            rmcText = group == 2 && (flags & 1) ? s : rmcText;
            const unsigned bits[] = {1, 2, 4, gsvBit << 4, gsvBit << 5, 0};
            flags |= group == 0 || (flags & 1) ? bits[group] : 0;
            gDeliveries.clear();
            mng::GPSPARSER_MsgProc(s.c_str());
            ASSERT_EQ(gDeliveries.size(), (flags & mask) == mask ? 1u : 0u)
                << entry.path() << ": " << s;
            if ((flags & mask) != mask) continue;
            flags = 0;
            ++deliveries;
            const GpsMsgPacket& r = gDeliveries[0];
            int h = 0, m = 0, sec = 0;
            EXPECT_TRUE(std::sscanf(ggaText.c_str(), "$%*2cGGA,%2d%2d%2d", &h, &m, &sec) != 3 ||
                        hhmmss(r.gga.time) == h * 10000 + m * 100 + sec)
                << ggaText;
            EXPECT_TRUE(std::sscanf(rmcText.c_str(), "$%*2cRMC,%2d%2d%2d", &h, &m, &sec) != 3 ||
                        hhmmss(r.rmc.time) == h * 10000 + m * 100 + sec)
                << rmcText;
            const int32_t* fix = r.gsa[0].satelliteIds;
            for (const GpsGsv& gsvRecord : r.gpGsv)
                for (const GpsSatInfo& sat : gsvRecord.satellites)
                    EXPECT_TRUE(!sat.usedInFix ||
                                (sat.snr != 0 && std::count(fix, fix + 12, sat.prn)))
                        << "prn " << sat.prn << " in " << entry.path();
        }
    }
    EXPECT_GT(deliveries, 0u);
}

// Every burst gives GGA and RMC the same time and latitude (4000 + k) and the
// RMC course k, so a copy mixing two epochs shows.
bool wholeEpoch(const GpsMsgPacket& r) {
    return hhmmss(r.gga.time) == hhmmss(r.rmc.time) && r.gga.latitude.value == r.rmc.latitude.value;
}

TEST(Manager, ConcurrentCopiesAreWholeEpochs) {
    VyrPlatform_SetPrintLevel(1);
    manager().mngState = mng::MngState::Start;
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> others;  // copy, and register and unregister A or B
    for (const char who : {'A', 'B'}) {
        others.emplace_back([&, who] {
            for (size_t i = 0; !stop; ++i) {
                bad += registry(i % 2, 1, who) != 0;
                GpsMsgPacket record;
                GpsRawData raw;
                GpsLocation loc;
                bad += (VYR_GPSPARSER_GetData(&record) | VYR_GPSPARSER_ReadNmea(&raw) |
                        static_cast<uint32_t>(VYR_GPSPARSER_GetLocation(&loc))) != 0 ||
                       !wholeEpoch(record) ||
                       (raw.rmcStr[0] && std::strncmp(raw.ggaStr + 7, raw.rmcStr + 7, 9)) ||
                       (loc.latitude != 0 &&
                        loc.course != static_cast<float>(static_cast<int>(loc.latitude) - 4000));
                bad += registry(i % 2, 0, who) != 0;
            }
        });
    }
    for (int n = 0; n < 600; ++n) {  // this thread plays the reader
        const std::string time = std::to_string(100000 + n / 60 * 100 + n % 60) + ".00";
        const std::string k = std::to_string(n % 300), lat = std::to_string(4000 + n % 300) + ".0";
        for (const std::string& s :
             {gga(time, lat), gsa("04,05"), rmc(time, lat, k + ".0"), gsv("GP", 1, 1)}) {
            GPS_Notify_Nmea_Packet(s.c_str(), static_cast<uint32_t>(s.size()));
            mng::GPSPARSER_MsgProc(s.c_str());
        }
    }
    stop = true;
    for (std::thread& t : others) t.join();
    EXPECT_EQ(manager().msgPacket.rmc.latitude.value, 42990);  // the last burst was parsed
    EXPECT_TRUE(std::all_of(gDeliveries.begin(), gDeliveries.end(), wholeEpoch));
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace vyr::test
