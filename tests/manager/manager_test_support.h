// Helpers shared by the manager tests: sentence builders, a raw-set builder,
// and recording callbacks.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "manager/collector.h"
#include "manager/gps_manager.h"
#include "vyr_gpsparser.h"

namespace vyr::test {

// "$" + body + "*" + checksum.
inline std::string nmea(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof(tail), "*%02X", sum);
    return "$" + body + tail;
}

inline std::string gga(const std::string& talker, const std::string& time) {
    return nmea(talker + "GGA," + time + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,");
}
inline std::string rmc(const std::string& talker, const std::string& time) {
    return nmea(talker + "RMC," + time + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W");
}
inline std::string gsa(const std::string& talker, const std::string& ids) {
    return nmea(talker + "GSA,A,3," + ids + ",2.5,1.3,2.1");
}
// One GSV sentence of a series; four satellites numbered from firstPrn.
inline std::string gsv(const std::string& talker, int total, int number, int firstPrn) {
    std::string body = talker + "GSV," + std::to_string(total) + "," + std::to_string(number) +
                       "," + std::to_string(total * 4);
    for (int i = 0; i < 4; ++i) {
        char sat[32];
        std::snprintf(sat, sizeof(sat), ",%02d,%02d,%03d,%02d", firstPrn + i, 10 + i, 40 * i,
                      30 + i);
        body += sat;
    }
    return nmea(body);
}

// The expected raw set, slot by slot; an empty string is an all-zero slot.
struct RawSet {
    std::string gga;
    std::array<std::string, 2> gsa;
    std::string rmc;
    std::array<std::string, 4> gp;
    std::array<std::string, 4> bd;

    GpsRawData build() const {
        GpsRawData raw{};
        auto put = [](char(&slot)[VYR_GPS_SENTENCE_SIZE], const std::string& text) {
            std::snprintf(slot, sizeof(slot), "%s", text.c_str());
        };
        put(raw.ggaStr, gga);
        put(raw.gsaStr[0], gsa[0]);
        put(raw.gsaStr[1], gsa[1]);
        put(raw.rmcStr, rmc);
        for (int k = 0; k < 4; ++k) {
            put(raw.gpGsvStr[k], gp[k]);
            put(raw.bdGsvStr[k], bd[k]);
        }
        return raw;
    }
};

inline bool isAllZero(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

// The text of each slot, for readable failure messages.
inline std::vector<std::string> slotTexts(const GpsRawData& raw) {
    const auto* slots = reinterpret_cast<const char(*)[VYR_GPS_SENTENCE_SIZE]>(&raw);
    std::vector<std::string> texts;
    for (int i = 0; i < 12; ++i) {
        texts.emplace_back(slots[i], strnlen(slots[i], VYR_GPS_SENTENCE_SIZE));
    }
    return texts;
}

// One data-callback call as seen by a recording callback.
struct DataCall {
    int tag;
    size_t atSentence;
    GpsMsgPacket record;
    GpsRawData raw;  // the set as it stood while the callbacks ran
};

struct NmeaCall {
    int tag;
    std::string sentence;
    uint32_t len;
};

// Recording state of the tests; the callbacks run on the feeding thread.
struct Recorder {
    size_t sentenceIndex = 0;
    std::vector<DataCall> dataCalls;
    std::vector<NmeaCall> nmeaCalls;
};

inline Recorder& recorder() {
    static Recorder r;
    return r;
}

// userData points to an int tag.
inline void recordData(const GpsMsgPacket* record, void* userData) {
    DataCall call{*static_cast<int*>(userData), recorder().sentenceIndex, *record, {}};
    // Pull copies are allowed from a callback; this one shows the set that was
    // parsed, before it is cleared.
    EXPECT_EQ(VYR_GPSPARSER_ReadNmea(&call.raw), 0u);
    recorder().dataCalls.push_back(call);
}

inline void recordNmea(const char* sentence, uint32_t len, void* userData) {
    recorder().nmeaCalls.push_back({*static_cast<int*>(userData), std::string(sentence), len});
}

inline GpsCallbackReg dataReg(int* tag) {
    return {VYR_GPS_CALLBACK(recordData), tag};
}
inline GpsCallbackReg nmeaReg(int* tag) {
    return {VYR_GPS_CALLBACK(recordNmea), tag};
}

// Hands one sentence on as the reader thread does: NMEA callbacks, then the
// collector.
inline void feedSentence(const std::string& sentence) {
    GPS_Notify_Nmea_Packet(sentence.c_str(), static_cast<uint32_t>(sentence.size()));
    mng::GPSPARSER_MsgProc(sentence.c_str());
}

// Each test case normally runs in a process of its own; resetting the
// manager before every test also lets a test binary be run whole.
inline void resetManagerState() {
    mng::GpsManager& m = mng::manager();
    std::memset(m.dataCbk, 0, sizeof(m.dataCbk));
    std::memset(m.nmeaCbk, 0, sizeof(m.nmeaCbk));
    m.rawHeader = {};
    std::memset(&m.gpsRawData, 0, sizeof(m.gpsRawData));
    std::memset(&m.msgPacket, 0, sizeof(m.msgPacket));
    m.bdSupported = 0;
    m.mngState = mng::MngState::Deinit;
    recorder() = Recorder{};
}

struct ResetBeforeEachTest : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { resetManagerState(); }
};

inline const bool kResetBeforeEachTestInstalled = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new ResetBeforeEachTest);
    return true;
}();

}  // namespace vyr::test
