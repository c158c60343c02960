// Exactness of the reader whatever runs the line delivers: the bundled drives
// and the real captures, as one stream, written into the pseudo-terminal one
// byte at a time, a line at a time, in random runs of 1 to 300 bytes, or all
// at once, give the same NMEA callbacks, records and log lines as the framing
// rules applied byte by byte (Framer::frameByte, handed on as the reader does).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "manager/framer.h"
#include "manager/gps_manager.h"
#include "manager/reader_thread.h"
#include "support/log_capture.h"
#include "support/pty_device.h"
#include "vyr_platform.h"

namespace {

using namespace std::chrono_literals;

// What the callbacks were given: sentences, then records, in order.
struct Delivered {
    std::vector<std::string> sentences;
    std::vector<std::string> records;  // each GpsMsgPacket's bytes
    bool operator==(const Delivered&) const = default;
} gDelivered;
std::atomic<size_t> gSentenceCount{0};

void onSentence(const char* text, uint32_t length, void*) {
    gDelivered.sentences.emplace_back(text, length);
    ++gSentenceCount;
}
void onRecord(const GpsMsgPacket* record, void*) {
    gDelivered.records.emplace_back(reinterpret_cast<const char*>(record), sizeof *record);
}

// Every capture as one stream, those with BeiDou sentences last: once BeiDou
// is seen, an epoch needs a BeiDou series too. The overlong lines and odd
// bytes of the real captures are part of the point.
std::string allCaptures() {
    std::vector<std::pair<bool, std::string>> files;  // BeiDou, contents
    for (const char* dir : {VYR_TEST_PROJECT_DATA_DIR, VYR_TEST_CAPTURE_DIR}) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
            if (e.path().extension() != ".nmea" && e.path().extension() != ".log") continue;
            std::ifstream in(e.path(), std::ios::binary);
            std::string text{std::istreambuf_iterator<char>(in), {}};
            files.emplace_back(text.find("BDGSV") != std::string::npos, std::move(text));
        }
    }
    std::sort(files.begin(), files.end());
    std::string stream;
    for (const auto& file : files) stream += file.second;
    return stream;
}

// Log lines without their clock: "[<wall> <tenths>]" differs between runs.
std::string withoutClock(const std::string& log) {
    std::string out;
    for (size_t at = 0; at < log.size();) {
        const size_t end = std::min(log.find('\n', at), log.size() - 1) + 1;
        const std::string line = log.substr(at, end - at);
        const size_t open = line.find('['), close = line.find(']');
        out += open < close && close != std::string::npos
                   ? line.substr(0, open) + line.substr(close)
                   : line;
        at = end;
    }
    return out;
}

// A fresh epoch and a receiver not yet known to track BeiDou.
void resetCollection() {
    vyr::mng::GpsManager& mng = vyr::mng::manager();
    mng.rawHeader = {};
    mng.gpsRawData = {};
    mng.msgPacket = {};
    mng.bdSupported = 0;
}

enum class Arrival { ByteByByte, LineByLine, RandomRuns, AllAtOnce };

// The writes of the stream in the given arrival pattern.
std::vector<std::string_view> writesOf(const std::string& stream, Arrival arrival) {
    std::vector<std::string_view> writes;
    std::mt19937 random(20240514);
    for (size_t at = 0; at < stream.size();) {
        size_t n = stream.size() - at;
        if (arrival == Arrival::ByteByByte) n = 1;
        if (arrival == Arrival::LineByLine) n = std::min(n, stream.find('\n', at) - at + 1);
        if (arrival == Arrival::RandomRuns) n = std::min(n, size_t{1} + random() % 300);
        writes.emplace_back(stream.data() + at, n);
        at += n;
    }
    return writes;
}

class Delivery : public testing::TestWithParam<Arrival> {};

TEST_P(Delivery, SameAsByteByByteFraming) {
    const std::string stream = allCaptures();
    ASSERT_GT(stream.size(), 1000000u);
    const GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), nullptr};
    const GpsCallbackReg data{VYR_GPS_CALLBACK(onRecord), nullptr};
    ASSERT_EQ(VYR_GPSPARSER_RegNMEARecvCbk(&nmea) | VYR_GPSPARSER_Register(&data), 0u);
    VyrPlatform_SetPrintLevel(2);  // errors and warnings: overflow, "SupportBD!"

    // The rules byte by byte, on this thread.
    const std::string expectedLog = withoutClock(vyr::test::captureLog([&] {
        vyr::mng::Framer framer;
        for (const char c : stream)
            if (framer.frameByte(static_cast<uint8_t>(c)))
                vyr::mng::handOnSentence(framer.sentence(), framer.length());
    }));
    const Delivered expected = std::exchange(gDelivered, {});
    ASSERT_GT(expected.records.size(), 1000u);
    ASSERT_NE(expectedLog.find("should expand buff size"), std::string::npos);
    resetCollection();
    gSentenceCount = 0;

    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(VYR_GPSPARSER_Init() | VYR_GPSPARSER_Start(), 0u);
    const std::string log = withoutClock(vyr::test::captureLog([&] {
        for (const std::string_view bytes : writesOf(stream, GetParam()))
            ASSERT_TRUE(pty.write(std::string(bytes)));
        // Until every sentence is in, or none came for 5 s.
        for (size_t seen = 0, idle = 0; gSentenceCount < expected.sentences.size() && idle < 1000;
             std::this_thread::sleep_for(5ms))
            idle = seen == gSentenceCount ? idle + 1 : (seen = gSentenceCount, 0);
        ASSERT_EQ(VYR_GPSPARSER_Stop(), 0u);
    }));
    EXPECT_EQ(VYR_GPSPARSER_Deinit(), 0u);
    EXPECT_EQ(gDelivered.sentences.size(), expected.sentences.size());
    EXPECT_EQ(gDelivered.records.size(), expected.records.size());
    EXPECT_TRUE(gDelivered == expected);
    EXPECT_EQ(log, expectedLog);
}

const char* const kArrivalNames[] = {"ByteByByte", "LineByLine", "RandomRuns", "AllAtOnce"};
INSTANTIATE_TEST_SUITE_P(Arrival, Delivery,
                         testing::Values(Arrival::ByteByByte, Arrival::LineByLine,
                                         Arrival::RandomRuns, Arrival::AllAtOnce),
                         [](const auto& arrival) { return kArrivalNames[int(arrival.param)]; });

}  // namespace
