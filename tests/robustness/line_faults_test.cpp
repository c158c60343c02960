// Line faults over the pseudo-terminal: after each fault the reader keeps
// running, every complete sentence that follows reaches the NMEA callback in
// order, and Stop still works.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "manager/gps_manager.h"
#include "support/pty_device.h"
#include "vyr_gpsparser.h"
#include "vyr_platform.h"

namespace {

using namespace std::chrono_literals;

struct Received {
    static inline std::mutex lock;
    static inline std::vector<std::string> sentences;
    static inline int epochs = 0;

    static void onSentence(const char* text, uint32_t len, void*) {
        std::lock_guard<std::mutex> guard(lock);
        sentences.emplace_back(text, len);
    }
    static void onRecord(const GpsMsgPacket*, void*) {
        std::lock_guard<std::mutex> guard(lock);
        ++epochs;
    }
    static size_t count() {
        std::lock_guard<std::mutex> guard(lock);
        return sentences.size();
    }
    static int epochCount() {
        std::lock_guard<std::mutex> guard(lock);
        return epochs;
    }
};

template <typename Done>
bool waitUntil(Done&& done, std::chrono::milliseconds timeout = 30s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::vector<std::string> gpsBurst(int n) {
    char t[16];
    std::snprintf(t, sizeof t, "%06d.00", n);
    return {
        std::string("$GPGGA,") + t + ",4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
        "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39",
        std::string("$GPRMC,") + t + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
        "$GPGSV,2,1,08,04,45,100,40,05,30,200,35,09,60,300,45,12,10,050,20*70",
        "$GPGSV,2,2,08,24,45,100,40,25,30,200,35,29,60,300,45,31,10,050,20*70",
    };
}

std::vector<std::string> gpsBeidouBurst(int n) {
    std::vector<std::string> burst = gpsBurst(n);
    burst.push_back("$BDGSV,2,1,08,04,48,092,37,07,67,167,49,12,21,203,28,15,60,099,43*61");
    burst.push_back("$BDGSV,2,2,08,17,02,158,,24,16,301,22,29,26,285,34,35,18,306,28*6C");
    return burst;
}

std::string onTheLine(const std::vector<std::string>& sentences) {
    std::string bytes;
    for (const std::string& s : sentences) bytes += s + "\r\n";
    return bytes;
}

class LineFaults : public ::testing::Test {
protected:
    void SetUp() override {
        VyrPlatform_SetPrintLevel(0);  // the overlong line logs every discarded byte
        pty_ = std::make_unique<vyr::test::PtyDevice>();
        if (!pty_->ok()) GTEST_SKIP() << "no pseudo-terminal available: " << pty_->error();
        {
            std::lock_guard<std::mutex> guard(Received::lock);
            Received::sentences.clear();
            Received::epochs = 0;
        }
        ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea_), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Register(&data_), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
        ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
        started_ = true;
    }
    void TearDown() override {
        if (started_) {
            const auto before = std::chrono::steady_clock::now();
            EXPECT_EQ(VYR_GPSPARSER_Stop(), 0u);
            EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms) << "Stop took too long";
            EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0u);
        }
    }

    // Writes the fault, then the sentences, and checks that the sentences are
    // the last ones received, in order.
    void expectDeliveredAfter(const std::string& fault, const std::vector<std::string>& after,
                              const std::vector<std::string>& expected) {
        const size_t before = Received::count();
        ASSERT_TRUE(pty_->write(fault));
        ASSERT_TRUE(pty_->write(onTheLine(after)));
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard<std::mutex> guard(Received::lock);
            return Received::sentences.size() >= before + expected.size() &&
                   Received::sentences.back() == expected.back();
        })) << "the sentences after the fault did not all arrive";
        EXPECT_EQ(vyr::mng::manager().mngState.load(), vyr::mng::MngState::Start);
        std::lock_guard<std::mutex> guard(Received::lock);
        const std::vector<std::string> tail(Received::sentences.end() - expected.size(),
                                            Received::sentences.end());
        EXPECT_EQ(tail, expected);
    }

    std::unique_ptr<vyr::test::PtyDevice> pty_;
    bool started_ = false;
    const GpsCallbackReg nmea_{VYR_GPS_CALLBACK(Received::onSentence), nullptr};
    const GpsCallbackReg data_{VYR_GPS_CALLBACK(Received::onRecord), nullptr};
};

TEST_F(LineFaults, RandomBytesThenSentences) {
    std::mt19937 random(20240514);
    std::string noise;
    for (int i = 0; i < 8192; ++i) noise += static_cast<char>(random() & 0xFF);
    noise += "\r\n";  // ends a sentence the noise may have opened
    const std::vector<std::string> burst = gpsBurst(1);
    expectDeliveredAfter(noise, burst, burst);
}

TEST_F(LineFaults, NulAndFfBytesInsideAndBetweenSentences) {
    using namespace std::string_literals;
    const std::string garbled = "$GPGGA,\0\xFF,1*00\0"s;  // NUL and 0xFF inside a sentence
    const std::string fault = "\0\xFF\xFF\0"s + garbled + "\r\n\xFF\0"s;
    std::vector<std::string> expected{garbled};
    const std::vector<std::string> burst = gpsBurst(2);
    expected.insert(expected.end(), burst.begin(), burst.end());
    expectDeliveredAfter(fault, burst, expected);
}

TEST_F(LineFaults, OverlongLineIsCutAndTheLineAfterItEndsIt) {
    // 300 characters without a line end: the first 179 are kept; the next
    // sentence's "$" and text are discarded and its line end hands on the cut
    // line. Every sentence after that one arrives whole.
    const std::string overlong = "$GPTXT," + std::string(293, 'x');
    const std::vector<std::string> burst = gpsBurst(3);
    std::vector<std::string> expected{overlong.substr(0, 179)};
    expected.insert(expected.end(), burst.begin() + 1, burst.end());
    expectDeliveredAfter(overlong, burst, expected);
}

TEST_F(LineFaults, SwitchFromGpsOnlyToGpsBeidouMidStream) {
    std::vector<std::string> sentences;
    for (int n = 0; n < 3; ++n) {
        const std::vector<std::string> b = gpsBurst(n);
        sentences.insert(sentences.end(), b.begin(), b.end());
    }
    for (int n = 3; n < 6; ++n) {
        const std::vector<std::string> b = gpsBeidouBurst(n);
        sentences.insert(sentences.end(), b.begin(), b.end());
    }
    expectDeliveredAfter("", sentences, sentences);
    // Three GPS-only epochs; the first mixed burst completes at its last GPS
    // GSV (no BeiDou sentence seen yet); then every burst needs both series.
    EXPECT_TRUE(waitUntil([] { return Received::epochCount() == 6; }, 5s))
        << Received::epochCount() << " epochs";
}

TEST_F(LineFaults, HangUpThenANewLineAfterDeinitAndInit) {
    pty_->hangUp();
    // The dead line makes each read fail; the reader logs, pauses and goes on.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(vyr::mng::manager().mngState.load(), vyr::mng::MngState::Start);
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms);
    ASSERT_EQ(VYR_GPSPARSER_Deinit(), 0u);
    started_ = false;

    pty_.reset();                                     // its link goes with it
    pty_ = std::make_unique<vyr::test::PtyDevice>();  // the receiver comes back
    ASSERT_TRUE(pty_->ok());
    ASSERT_EQ(VYR_GPSPARSER_Init(), 0u);
    ASSERT_EQ(VYR_GPSPARSER_Start(), 0u);
    started_ = true;
    const std::vector<std::string> burst = gpsBurst(4);
    expectDeliveredAfter("", burst, burst);
}

}  // namespace
