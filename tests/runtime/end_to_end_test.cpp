// End to end: bytes written into the line (or sentences from a simulated
// source) reach the NMEA callbacks sentence by sentence, unchanged and in
// order, and every complete burst reaches the data callbacks.
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/runtime_support.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"

namespace {

using vyr::test::ScriptedSource;

struct Capture {
    std::string bytes;                    // as the receiver sent them
    std::vector<std::string> sentences;   // what the framer must hand on
    std::vector<std::string> epochTimes;  // hhmmss of each burst that completes
};

// Lines that start with "$" and are ended by a line end are the sentences.
// The captures used here have no "$" elsewhere, no line longer than 179
// characters and only GPS-only bursts GGA .. RMC with a whole GSV series.
Capture describe(std::string bytes) {
    Capture c;
    c.bytes = std::move(bytes);
    size_t start = 0;
    std::string burstTime;
    bool gsa = false, rmc = false, gsv = false;
    auto closeBurst = [&] {
        if (!burstTime.empty() && gsa && rmc && gsv) {
            c.epochTimes.push_back(burstTime);
        }
    };
    for (size_t end; (end = c.bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = c.bytes.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] != '$') {
            continue;
        }
        c.sentences.push_back(line);
        const std::string type = line.substr(1, 5);
        if (type == "GPGGA") {
            closeBurst();
            burstTime = line.substr(7, 6);
            gsa = rmc = gsv = false;
        } else if (type == "GPGSA") {
            gsa = true;
        } else if (type == "GPRMC") {
            rmc = true;
        } else if (type == "GPGSV") {
            int total = 0, number = 0;
            std::sscanf(line.c_str(), "$GPGSV,%d,%d,", &total, &number);
            gsv = gsv || (total == number && total > 0);
        }
    }
    closeBurst();
    return c;
}

Capture generated() {
    std::string bytes = "garbage before the first sentence\r\n";
    for (int second = 0; second < 5; ++second) {
        for (const std::string& s : vyr::test::makeBurst(43200 + second)) {
            bytes += s + (second % 2 ? "\n" : "\r\n");
        }
    }
    return describe(bytes);
}

std::mutex gMutex;
std::vector<std::string> gSentences;
std::vector<std::string> gEpochTimes;

void onSentence(const char* sentence, uint32_t len, void*) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSentences.emplace_back(sentence, len);
}

void onEpoch(const GpsMsgPacket* record, void*) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d%02d%02d", record->gga.time.hours,
                  record->gga.time.minutes, record->gga.time.seconds);
    std::lock_guard<std::mutex> lock(gMutex);
    // One whole burst: GGA and RMC of the same second.
    gEpochTimes.push_back(vyr::test::sameTime(record->gga.time, record->rmc.time) ? text : "mixed");
}

std::string captureName(const testing::TestParamInfo<const char*>& param) {
    std::string name = param.param;
    name = name.substr(name.rfind('/') + 1);
    name = name.substr(0, name.find('.'));
    for (char& ch : name) {
        ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    }
    return name;
}

class EndToEnd : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        VYR_SKIP_WITHOUT_PTY(pty_);
        const std::string name = GetParam();
        if (name == "generated") {
            capture_ = generated();
        } else {
            std::ifstream file(std::string(VYR_TEST_SHARED_CAPTURE_DIR) + "/" + name,
                               std::ios::binary);
            if (!file) {
                GTEST_SKIP() << "capture " << name << " not available under "
                             << VYR_TEST_SHARED_CAPTURE_DIR;
            }
            std::stringstream bytes;
            bytes << file.rdbuf();
            capture_ = describe(bytes.str());
        }
        ASSERT_FALSE(capture_.epochTimes.empty());
        for (const std::string& s : capture_.sentences) {
            ASSERT_LE(s.size(), 179u);
            ASSERT_EQ(s.find('$', 1), std::string::npos) << s;
        }
        GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), nullptr};
        GpsCallbackReg data{VYR_GPS_CALLBACK(onEpoch), nullptr};
        ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Register(&data), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    }

    void expectAllDelivered() {
        const size_t expected = capture_.sentences.size();
        EXPECT_TRUE(vyr::test::waitUntil([&] {
            std::lock_guard<std::mutex> lock(gMutex);
            return gSentences.size() >= expected;
        }));
        ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
        EXPECT_EQ(gSentences, capture_.sentences);
        EXPECT_EQ(gEpochTimes, capture_.epochTimes);
        EXPECT_EQ(VYR_GPSPARSER_GetGpsState(), 1u);
    }

    vyr::test::PtyDevice pty_;
    Capture capture_;
};

TEST_P(EndToEnd, OverTheSerialLine) {
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    ASSERT_TRUE(pty_.write(capture_.bytes));  // full speed; raw line since Init
    expectAllDelivered();
}

TEST_P(EndToEnd, FromASimulatedSource) {
    ScriptedSource::sentences = capture_.sentences;
    Vyr_GPSPARSER_RegisterSimulater(ScriptedSource::produce);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    expectAllDelivered();
}

INSTANTIATE_TEST_SUITE_P(Captures, EndToEnd,
                         testing::Values("generated", "gpsd/bt-q818.log", "gpsd/bn-9015.log"),
                         captureName);

}  // namespace
