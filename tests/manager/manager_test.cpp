// Manager: callback registry, epoch collection and dispatch, pull access, real
// captures and concurrent use. The collector is driven directly, as the reader
// thread drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "common/mutex_guard.h"
#include "manager/collector.h"
#include "manager/gps_manager.h"
#include "manager/reader_thread.h"
#include "nmea/parsers.h"
#include "vyr_platform.h"

// The raw-set parse through a link-time seam (-Wl,--wrap), so that a failed
// parse can be played: it reports whatever it is told to.
extern "C" int32_t __real__ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket(
    const GpsRawData*, GpsMsgPacket*);
static std::atomic<int32_t> gParseResult{-1};  // -1: the parse's own
extern "C" int32_t __wrap__ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket(
    const GpsRawData* raw, GpsMsgPacket* record) {
    const int32_t result =
        __real__ZN3vyr4nmea22GPSPARSER_ParseRawDataEPK10GpsRawDataP12GpsMsgPacket(raw, record);
    return gParseResult < 0 ? result : gParseResult.load();
}

namespace vyr::test {
using mng::manager;

// G<k>/R<k>: GGA/RMC of epoch k (same time and latitude 4000+k; RMC course k);
// S<ids>: GSA; P<total><number>, B<total><number>: GPS, BeiDou GSV; else as is.
std::string nmea(const std::string& t) {
    const int k = std::atoi(t.c_str() + 1);
    const std::string time = std::to_string(120000 + k / 60 * 100 + k % 60) + ".00,",
                      lat = std::to_string(4000 + k) + ".0,N,01131.000,E,";
    if (t[0] == 'G') return "$GPGGA," + time + lat + "1,08,0.9,545.4,M,46.9,M,,";
    if (t[0] == 'R') return "$GPRMC," + time + "A," + lat + "022.4," + t.substr(1) + ".0,230394,,";
    if (t[0] == 'S') return "$GPGSA,A,3," + t.substr(1) + ",,,,,,,,,,2.5,1.3,2.1";
    if (t[0] != 'P' && t[0] != 'B') return t;
    return (t[0] == 'P' ? "$GPGSV," : "$BDGSV,") + t.substr(1, 1) + "," + t.substr(2) + ",08";
}

// The collector and the dispatch as the reader calls them: mngLock held.
int32_t collect(const char* sentence) {
    const MutexGuard lock(mng::mngLock());
    return mng::GPSPARSER_MsgProc(sentence);
}
int32_t dispatch() {
    const MutexGuard lock(mng::mngLock());
    return mng::GPS_DataProc();
}

// Recording callbacks (run on the feeding thread): F 0 appends the tag its
// userData points to, F 1 appends 'C' whatever the userData.
char gTags[] = "AB";
std::string gCalls;
std::vector<GpsMsgPacket> gDeliveries;
template <int F>
const auto onNmea =
    [](const char*, uint32_t, void* tag) { gCalls += F ? 'C' : *static_cast<char*>(tag); };
template <int F>
const auto onData = [](const GpsMsgPacket* record, void* tag) {
    gDeliveries.push_back(*record);
    onNmea<F>(nullptr, 0, tag);
};

// Registers (or unregisters) A or B (one function, two userData values) or C
// (another function, A's userData) as a data (kind 0) or NMEA callback; who '0'
// passes NULL.
uint32_t registry(size_t kind, bool reg, char who) {
    const GpsCallbackFn fns[2][2] = {{VYR_GPS_CALLBACK(+onData<0>), VYR_GPS_CALLBACK(+onData<1>)},
                                     {VYR_GPS_CALLBACK(+onNmea<0>), VYR_GPS_CALLBACK(+onNmea<1>)}};
    uint32_t (*const ops[2][2])(const GpsCallbackReg*) = {
        {VYR_GPSPARSER_UnRegister, VYR_GPSPARSER_Register},
        {VYR_GPSPARSER_UnregNMEARecvCbk, VYR_GPSPARSER_RegNMEARecvCbk}};
    const GpsCallbackReg desc{fns[kind][who == 'C'], &gTags[who == 'B']};
    return ops[kind][reg](who == '0' ? nullptr : &desc);
}

// Each row runs for both kinds while the other kind holds C and A: steps
// "<+ or -><who><result: 0 done, 1 slots full, 2 not registered>", then the tags
// in call order, the tested kind dispatched first.
class Registry : public testing::TestWithParam<std::tuple<size_t, std::string>> {};
const std::string kRows[] = {"+A0+C0 CA", "+A0+A0+C0 CA",    "+A0+B0 BA",       "+A0+C0+B1 CA",
                             "+A0-B2 A",  "+A0+C0-C0+B0 BA", "+A0+C0-A0+B0 CB", "+A0+02-02 A"};
INSTANTIATE_TEST_SUITE_P(Manager, Registry,
                         testing::Combine(testing::Values(0, 1), testing::ValuesIn(kRows)));

TEST_P(Registry, ResultsAndCallOrder) {
    const auto& [kind, row] = GetParam();
    const uint32_t codes[] = {0, VYR_GPS_E_SLOTS_FULL, VYR_GPS_E_NOT_REGISTERED};
    ASSERT_EQ(registry(1 - kind, 1, 'A') | registry(1 - kind, 1, 'C'), 0u);
    for (const char* s = row.c_str(); *s != ' '; s += 3)
        EXPECT_EQ(registry(kind, s[0] == '+', s[1]), codes[s[2] - '0']) << s;
    for (const size_t k : {kind, 1 - kind}) k ? GPS_Notify_Nmea_Packet("$X", 2) : dispatch();
    EXPECT_EQ(gCalls, row.substr(row.find(' ') + 1) + "CA");
}

// Name, sentence tokens, then per delivery its raw set: for each slot (GGA,
// GSA 1-2, RMC, GPS GSV 1-4, BeiDou GSV 1-4) the token's index in hex, '.' for an
// empty slot. The highest index is the sentence that completes the delivery.
const std::tuple<std::string, std::string, std::string> kScenarios[] = {
    {"RmcBeforeGga", "R1 G1 S4 P11 R2", "12.43"},
    {"ThreeGsa", "G1 S4 S5 S6 P11 R1", "01354"},
    {"Gsv5", "G1 S4 R1 P51 P52 P53 P54 P55", "01.23456"},
    {"Gsv5Of5", "G1 S4 R1 P55 P11", "01.24"},
    {"GsvLastAlone", "G1 S4 R1 P33", "01.2..3"},
    {"GsvEmpty", "G1 S4 R1 $GPGSV,,,08,11 $GPGSV,1,,08,11", ""},
    {"BdFirst", "G1 S4 R1 B11 P11 G2 S4 R2 P11 B11", "01.24...3 56.78...9"},
    {"BdLate", "G1 S4 S5 R1 P21 P22 B21 B22 G2 S4 S5 R2 P21 P22 B21 B22", "012345 89abcd..ef"},
};
class Bursts : public testing::TestWithParam<std::tuple<std::string, std::string, std::string>> {};
INSTANTIATE_TEST_SUITE_P(Manager, Bursts, testing::ValuesIn(kScenarios),
                         [](const auto& param) { return std::get<0>(param.param); });

TEST_P(Bursts, DeliveredOnceWhenComplete) {
    const auto& [name, tokenText, setText] = GetParam();
    std::vector<std::string> stream, sets;
    std::istringstream tokens(tokenText), expected(setText);
    for (std::string t; tokens >> t;) stream.push_back(nmea(t));
    for (std::string d; expected >> d;) sets.push_back(d);
    auto hex = [](char c) { return static_cast<size_t>(c <= '9' ? c - '0' : c - 'a' + 10); };
    manager().mngState = mng::MngState::Start;
    ASSERT_EQ(registry(0, 1, 'A'), 0u);
    GpsMsgPacket reference{};  // the record is kept between epochs
    testing::internal::CaptureStdout();
    for (size_t i = 0, done = 0; i < stream.size(); ++i) {
        collect(stream[i].c_str());
        const std::string set = done < sets.size() ? sets[done] : "";
        const bool completes = !set.empty() && hex(*std::max_element(set.begin(), set.end())) == i;
        ASSERT_EQ(gDeliveries.size(), done += completes) << "after sentence " << i;
        if (!completes) continue;
        GpsRawData raw{}, after{}, zero{};
        for (size_t k = 0; k < set.size(); ++k)  // raw is an array of sentence slots
            if (set[k] != '.')
                std::strcpy(reinterpret_cast<char(*)[VYR_GPS_SENTENCE_SIZE]>(&raw)[k],
                            stream[hex(set[k])].c_str());
        ASSERT_EQ(nmea::GPSPARSER_ParseRawData(&raw, &reference), 0);
        EXPECT_EQ(std::memcmp(&gDeliveries.back(), &reference, sizeof(reference)), 0) << i;
        EXPECT_EQ(VYR_GPSPARSER_ReadNmea(&after) | std::memcmp(&after, &zero, sizeof(zero)), 0u);
    }
    fflush(stdout);
    const bool bd = tokenText.find('B') != std::string::npos;
    const std::regex log(bd ? ".*\\[WAR\\]\033\\[m GPSPARSER_MsgProc \\d+ :SupportBD!\n" : "");
    EXPECT_TRUE(std::regex_match(testing::internal::GetCapturedStdout(), log));
}

// The slot a sentence lands in, in an open epoch, by the names it holds
// anywhere: every name, and every near miss letter by letter. G GGA, S GSA,
// R RMC, P GPS GSV, B BeiDou GSV, '-' none. A text longer than a slot is cut
// to 179 characters.
TEST(Manager, ClassifiesNamesAndNearMisses) {
    const std::pair<std::string, char> rows[] = {
        {"$GNGGA,1", 'G'},         {"$BDGGA,1", 'G'},
        {"GPGGA,1", 'G'},          {"$GLGGA,1", '-'},
        {"$GNGGB,1", '-'},         {"$GPGSA,1", 'S'},
        {"$GNGSA,1", 'S'},         {"$GNGSV,1,1,", '-'},
        {"$GPGSB,1", '-'},         {"$GPGXA,1", '-'},
        {"$GNRMC,1", 'R'},         {"$GPRMB,1", '-'},
        {"$GPRBC,1", '-'},         {"$GPXMC,1", '-'},
        {"$GPGSV,1,1,", 'P'},      {"$BDGSV,1,1,", 'B'},
        {"$BDGSB,1", '-'},         {"$BDGGB,1", '-'},
        {"$BDGXV,1", '-'},         {"$BXGGA,1", '-'},
        {"$XDGSV,1", '-'},         {"$GPZDA,GPRMC,BDGSV,1,1,", 'R'},
        {"$GPGSV,1,1,GPGGA", 'G'}, {"$GPTXT," + std::string(200, 'x') + ",GPRMC", 'R'}};
    VyrPlatform_SetPrintLevel(0);
    for (const auto& [text, group] : rows) {
        manager().rawHeader = {mng::kFlagGga, 0, 0, 0, 0};
        manager().gpsRawData = {};
        collect(text.c_str());
        const GpsRawData& raw = manager().gpsRawData;
        const char* const slots[] = {raw.ggaStr, raw.gsaStr[0], raw.rmcStr, raw.gpGsvStr[0],
                                     raw.bdGsvStr[0]};
        std::string landed = "-";
        for (int k = 0; k < 5; ++k)
            if (slots[k][0] != '\0') landed = "GSRPB"[k];
        EXPECT_EQ(landed, std::string(1, group)) << text;
        if (group != '-' && landed != "-") {
            EXPECT_EQ(std::string(slots[std::string("GSRPB").find(group)]), text.substr(0, 179));
        }
    }
}

// A parse that reports failure is logged, and the epoch is still delivered
// and cleared.
TEST(Manager, FailedParseLoggedEpochStillDelivered) {
    manager().mngState = mng::MngState::Start;
    ASSERT_EQ(registry(0, 1, 'A'), 0u);
    VyrPlatform_SetPrintLevel(1);
    gParseResult = 1;
    testing::internal::CaptureStdout();
    for (const char* t : {"G1", "S4", "R1", "P11"}) collect(nmea(t).c_str());
    fflush(stdout);
    const std::string log = testing::internal::GetCapturedStdout();
    gParseResult = -1;
    EXPECT_NE(log.find("[ERR]\033[m GPS_DataProc "), std::string::npos) << log;
    EXPECT_NE(log.find(":Parser GPS Raw data failed!\n"), std::string::npos) << log;
    EXPECT_EQ(gDeliveries.size(), 1u);
    EXPECT_EQ(manager().rawHeader.flags, 0u);
}

// sscanf(text, "$GPGSV,%d,%d,") (or "$BDGSV,") as the device's C library reads it: a value
// beyond 32 bits clamps to INT32_MAX or INT32_MIN. Read through long long, so
// that the host's own narrowing plays no part (a 64-bit long would wrap).
std::pair<int, int> gsvCounters(const char* text, bool beidou) {
    long long total = 0, number = 0;
    if (beidou) {
        std::sscanf(text, "$BDGSV,%lld,%lld,", &total, &number);
    } else {
        std::sscanf(text, "$GPGSV,%lld,%lld,", &total, &number);
    }
    const auto clamp = [](long long v) {
        return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
    };
    return {clamp(total), clamp(number)};
}

// The counters must be read as that pattern reads them.
TEST(Manager, GsvCountersReadAsSscanf) {
    for (const char* text :
         {"$GPGSV, 3,\t2,", "$GPGSV,+3,+3,", "$GPGSV,-3,1,", "$GPGSV,3,-1,", "$GPGSV,,1,",
          "$GPGSV,3,,", "$GPGSV,3 ,1,", "$GPGSV,4294967298,2,", "$GPGSV,1,4294967300,",
          "$GPGSV,1,4294967297,", "$GPGSV,-4294967298,2,", "$GPGSV,2147483648,2,",
          "$GPGSV,99999999999999999999,1,", "$BDGSV,7,4,", "$BDGSV,2,+2,", "x$GPGSV,3,3,",
          "$GLGSV,1,1,04,$GPGSV,2,2,", "$GPGSV", "$GPGSV,\v\f\r\n-2,1"}) {
        const mng::GpsRawHeader& header = manager().rawHeader = {mng::kFlagGga, 0, 0, 0, 0};
        collect(text);
        const bool beidou = std::strstr(text, "BDGSV") != nullptr;
        auto [total, number] = gsvCounters(text, beidou);
        if (number < 1 || number > 4) total = number = 0;
        EXPECT_EQ(beidou ? header.bdGsvNum : header.gpGsvNum, number) << text;
        EXPECT_EQ(beidou ? header.bdGsvTotal : header.gpGsvTotal, std::min(total, 4)) << text;
    }
    // The same on every architecture: a message number past 32 bits clamps
    // and is dropped; a total past 32 bits clamps and caps at 4.
    for (const auto& [text, total, number] : {std::tuple{"$GPGSV,1,4294967297,", 0, 0},
                                              {"$GPGSV,4294967298,2,", 4, 2},
                                              {"$GPGSV,-4294967298,1,", INT32_MIN, 1}}) {
        const mng::GpsRawHeader& header = manager().rawHeader = {mng::kFlagGga, 0, 0, 0, 0};
        collect(text);
        EXPECT_EQ(header.gpGsvTotal, total) << text;
        EXPECT_EQ(header.gpGsvNum, number) << text;
    }
}

// Only the first GNGGA and the first GNRMC change, each in its talker letter.
TEST(Manager, ReplaceGNToGP) {
    for (const char* row :
         {"$GNGGA,1,GNRMC,GNGGA $GPGGA,1,GPRMC,GNGGA", "$GNRMC,x$GNRMC $GPRMC,x$GNRMC",
          "$GNGSA,GPGGA,GNGG $GNGSA,GPGGA,GNGG"}) {
        std::string text(row, std::strchr(row, ' '));
        VyrReplaceGNToGP(text.data());
        EXPECT_EQ(text, std::strchr(row, ' ') + 1);
    }
    VyrReplaceGNToGP(nullptr);
}

TEST(Manager, PullAccessInEachState) {
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
        EXPECT_EQ(std::memcmp(&record, &manager().msgPacket, sizeof(record)) == 0, expected == 0);
        EXPECT_EQ(std::memcmp(&raw, &manager().gpsRawData, sizeof(raw)) == 0, expected == 0);
    }
}

// Every capture line from its last "$" goes through the collector and through
// a model of the completion rule written with strstr and sscanf; the files
// form one stream. Names carry their group number.
TEST(Manager, CapturesDeliverAsModelled) {
    const std::filesystem::path dir = VYR_TEST_CAPTURE_DIR;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    VyrPlatform_SetPrintLevel(0);
    ASSERT_EQ(registry(0, 1, 'A'), 0u);
    unsigned flags = 0, mask = 23, deliveries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (const auto ext = entry.path().extension(); ext != ".log" && ext != ".nmea") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            line = line.substr(0, line.find('\r'));
            if (line.find('$') == std::string::npos) continue;
            const std::string s = line.substr(line.rfind('$'), 179);
            int group = 5, total = 0, number = 0;
            for (const char* name : {"0GNGGA", "0BDGGA", "0GPGGA", "1GPGSA", "1GNGSA", "2GNRMC",
                                     "2GPRMC", "3GPGSV", "4BDGSV"})
                group = group == 5 && std::strstr(s.c_str(), name + 1) ? name[0] - '0' : group;
            std::tie(total, number) = gsvCounters(s.c_str(), group == 4);
            const unsigned gsvBit = number >= 1 && number <= 4 && std::min(total, 4) == number;
            mask |= group == 4 ? 55 : 0;
            const unsigned bits[] = {1, 2, 4, gsvBit << 4, gsvBit << 5, 0};
            flags |= group == 0 || (flags & 1) ? bits[group] : 0;
            gDeliveries.clear();
            collect(s.c_str());
            ASSERT_EQ(gDeliveries.size(), (flags & mask) == mask ? 1u : 0u) << entry.path() << s;
            deliveries += (flags & mask) == mask;
            flags = (flags & mask) == mask ? 0 : flags;
        }
    }
    EXPECT_GT(deliveries, 0u);
}

// Every burst gives GGA and RMC the same time and latitude (4000 + k) and the
// RMC course k, so a copy mixing two epochs shows.
TEST(Manager, ConcurrentCopiesAreWholeEpochs) {
    manager().mngState = mng::MngState::Start;
    std::atomic<int> bad{0}, stop{0};
    auto other = [&](char who) {  // copies, and registers and unregisters A or B
        for (size_t i = 0; !stop; ++i) {
            GpsMsgPacket r;
            GpsRawData raw;
            GpsLocation loc;
            bad += registry(i % 2, 1, who) != 0;
            bad += (VYR_GPSPARSER_GetData(&r) | VYR_GPSPARSER_ReadNmea(&raw) |
                    static_cast<uint32_t>(VYR_GPSPARSER_GetLocation(&loc))) != 0 ||
                   std::memcmp(&r.gga.time, &r.rmc.time, sizeof(GpsTime)) != 0 ||
                   r.gga.latitude.value != r.rmc.latitude.value ||
                   (raw.rmcStr[0] && std::strncmp(raw.ggaStr + 7, raw.rmcStr + 7, 9)) ||
                   (loc.latitude != 0 &&
                    loc.course != static_cast<float>(static_cast<int>(loc.latitude) - 4000));
            bad += registry(i % 2, 0, who) != 0;
        }
    };
    std::thread a(other, 'A'), b(other, 'B');
    for (int n = 0; n < 600; ++n) {  // this thread plays the reader
        const std::string k = std::to_string(n % 300);
        for (const std::string& s : {nmea("G" + k), nmea("S4"), nmea("R" + k), nmea("P11")}) {
            mng::handOnSentence(s.c_str(), static_cast<uint32_t>(s.size()));
        }
    }
    stop = 1;
    a.join();
    b.join();
    EXPECT_EQ(manager().msgPacket.rmc.latitude.value, 42990);  // the last burst was parsed
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace vyr::test
