// Real receiver captures through the collector. A small model of the
// completion rule, written with strstr and sscanf, runs beside it and predicts
// every delivery and the raw set behind it; deliveries are then checked for
// properties that hold for any real receiver.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "manager/collector.h"
#include "manager/gps_manager.h"
#include "manager_test_support.h"
#include "vyr_platform.h"

namespace vyr::test {
namespace {

namespace fs = std::filesystem;

// What the reader thread would hand on: "$" to line end, restarted by "$",
// cut at 179 characters. The text ends at its first NUL byte for the C side.
std::vector<std::string> frameSentences(const std::string& bytes) {
    std::vector<std::string> sentences;
    std::string current;
    bool inSentence = false;
    for (const char c : bytes) {
        const bool lineEnd = c == '\r' || c == '\n';
        if (inSentence && !lineEnd) {
            if (current.size() >= 179) continue;
            current += c;
            if (c == '$') current = "$";
        } else if (c == '$') {
            current = "$";
            inSentence = true;
        } else if (lineEnd && inSentence) {
            sentences.emplace_back(current.c_str());
            inSentence = false;
        }
    }
    return sentences;
}

// Independent model of collection: slots 0 GGA, 1-2 GSA, 3 RMC, 4-7 GPS GSV,
// 8-11 BeiDou GSV.
struct EpochModel {
    uint32_t flags = 0;
    int gpTotal = 0, gpNum = 0, bdTotal = 0, bdNum = 0;
    bool beidouSeen = false;
    std::array<std::string, 12> slots;

    int group(const char* s) const {
        const std::vector<std::vector<const char*>> groups = {{"GNGGA", "BDGGA", "GPGGA"},
                                                              {"GPGSA", "GNGSA"},
                                                              {"GNRMC", "GPRMC"},
                                                              {"GPGSV"},
                                                              {"BDGSV"}};
        for (size_t g = 0; g < groups.size(); ++g) {
            for (const char* name : groups[g]) {
                if (std::strstr(s, name) != nullptr) return static_cast<int>(g);
            }
        }
        return -1;
    }

    void gsv(const char* s, bool beidou, int& total, int& num, int firstSlot, uint32_t bit) {
        int t = 0, n = 0;
        if (beidou) {
            std::sscanf(s, "$BDGSV,%d,%d,", &t, &n);
        } else {
            std::sscanf(s, "$GPGSV,%d,%d,", &t, &n);
        }
        if (n < 1 || n > 4) return;
        num = n;
        total = std::min(t, 4);
        slots[firstSlot + n - 1] = std::string(s).substr(0, 179);
        if (total == num) flags |= bit;
    }

    // True when s completes the epoch; the completed set is left in slots
    // until clear().
    bool step(const char* s) {
        const bool open = flags & 1;
        const std::string text = std::string(s).substr(0, 179);
        switch (group(s)) {
            case 0:
                slots[0] = text;
                flags |= 1;
                break;
            case 1:
                if (open) {
                    slots[(flags & 2) ? 2 : 1] = text;
                    flags |= 2;
                }
                break;
            case 2:
                if (open) {
                    slots[3] = text;
                    flags |= 4;
                }
                break;
            case 3:
                if (open) gsv(s, false, gpTotal, gpNum, 4, 16);
                break;
            case 4:
                beidouSeen = true;
                if (open) gsv(s, true, bdTotal, bdNum, 8, 32);
                break;
            default:
                break;
        }
        const uint32_t mask = beidouSeen ? 55 : 23;
        return (flags & mask) == mask;
    }

    void clear() {
        flags = 0;
        gpTotal = gpNum = bdTotal = bdNum = 0;
        slots = {};
    }

    RawSet rawSet() const {
        return {slots[0],
                {slots[1], slots[2]},
                slots[3],
                {slots[4], slots[5], slots[6], slots[7]},
                {slots[8], slots[9], slots[10], slots[11]}};
    }
};

// hh, mm, ss of field 1 when the sentence really is of the given type and the
// receiver filled the field.
bool sentenceTime(const std::string& s, const char* type, int (&hms)[3]) {
    if (s.size() < 7 || s[0] != '$' || s.compare(3, 4, std::string(type) + ",") != 0) return false;
    const std::string field = s.substr(7, s.find_first_of(",*", 7) - 7);
    if (field.size() < 6 || !std::all_of(field.begin(), field.begin() + 6, ::isdigit)) return false;
    for (int i = 0; i < 3; ++i) hms[i] = std::stoi(field.substr(2 * i, 2));
    return true;
}

void expectTimeAgrees(const std::string& sentence, const char* type, const GpsTime& time) {
    int hms[3];
    if (!sentenceTime(sentence, type, hms)) return;
    EXPECT_EQ(time.hours, hms[0]) << sentence;
    EXPECT_EQ(time.minutes, hms[1]) << sentence;
    EXPECT_EQ(time.seconds, hms[2]) << sentence;
}

void expectUsedSatellitesPlausible(const GpsMsgPacket& record) {
    const int32_t* fixList = record.gsa[0].satelliteIds;
    for (const GpsGsv& gsv : record.gpGsv) {
        for (const GpsSatInfo& sat : gsv.satellites) {
            if (sat.usedInFix == 0) continue;
            EXPECT_EQ(sat.usedInFix, 1);
            EXPECT_NE(sat.snr, 0) << "prn " << sat.prn;
            EXPECT_NE(std::find(fixList, fixList + 12, sat.prn), fixList + 12) << "prn " << sat.prn;
        }
    }
}

void resetManager() {
    mng::GpsManager& m = mng::manager();
    m.rawHeader = {};
    std::memset(&m.gpsRawData, 0, sizeof(m.gpsRawData));
    std::memset(&m.msgPacket, 0, sizeof(m.msgPacket));
    m.bdSupported = 0;
}

TEST(Captures, EveryDeliveryPredictedAndPlausible) {
    const fs::path dir = VYR_TEST_SHARED_CAPTURE_DIR;
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no capture folder at " << dir;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const auto ext = entry.path().extension();
        if (entry.is_regular_file() && (ext == ".log" || ext == ".nmea"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    VyrPlatform_SetPrintLevel(0);  // parse failures of odd sentences would flood the output
    int tag = 1;
    const GpsCallbackReg reg = dataReg(&tag);
    mng::manager().mngState = mng::MngState::Start;
    ASSERT_EQ(VYR_GPSPARSER_Register(&reg), 0u);

    size_t totalSentences = 0, totalDeliveries = 0, filesWithDeliveries = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::vector<std::string> sentences = frameSentences(bytes.str());

        resetManager();
        EpochModel model;
        GpsMsgPacket reference{};
        size_t deliveries = 0;
        for (size_t i = 0; i < sentences.size(); ++i) {
            recorder().dataCalls.clear();
            recorder().sentenceIndex = i;
            mng::GPSPARSER_MsgProc(sentences[i].c_str());
            const bool completes = model.step(sentences[i].c_str());
            ASSERT_EQ(recorder().dataCalls.size(), completes ? 1u : 0u)
                << "sentence " << i << ": " << sentences[i];
            if (!completes) continue;
            ++deliveries;
            const GpsRawData expectedRaw = model.rawSet().build();
            const DataCall& call = recorder().dataCalls[0];
            ASSERT_EQ(slotTexts(call.raw), slotTexts(expectedRaw)) << "sentence " << i;
            GPSPARSER_ParseRawData(&expectedRaw, &reference);
            ASSERT_EQ(std::memcmp(&call.record, &reference, sizeof(reference)), 0)
                << "sentence " << i;
            expectTimeAgrees(model.slots[0], "GGA", call.record.gga.time);
            expectTimeAgrees(model.slots[3], "RMC", call.record.rmc.time);
            expectUsedSatellitesPlausible(call.record);
            model.clear();
        }
        totalSentences += sentences.size();
        totalDeliveries += deliveries;
        filesWithDeliveries += deliveries > 0 ? 1 : 0;
        if (HasFatalFailure()) return;
    }
    std::printf("captures: %zu files, %zu sentences, %zu deliveries, %zu files with deliveries\n",
                files.size(), totalSentences, totalDeliveries, filesWithDeliveries);
    EXPECT_GT(totalDeliveries, 0u);
}

}  // namespace
}  // namespace vyr::test
