// The reader under load and on a bad line: a long soak through the simulated source, and line
// faults over the pseudo-terminal after which the sentences that follow must all arrive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <optional>

#include "support/pty_device.h"
#include "vyr_gpsparser.h"

namespace {

// A GPS+BeiDou burst, "@@@@@@" replaced by its number; without $BDGSV a GPS-only burst.
constexpr const char* kBurst[] = {
    "$GNGGA,@@@@@@.00,4807.03800,N,01131.00002,E,1,16,0.79,519.3,M,47.6,M,,*4A",
    "$GNGSA,A,3,02,04,05,10,11,12,16,17,18,,,,1.34,0.79,1.07,1*06",
    "$GNRMC,@@@@@@.00,A,4807.03800,N,01131.00002,E,0.005,,140524,,,A*67",
    "$GPGSV,2,1,08,04,45,100,40,05,30,200,35,09,60,300,45,12,10,050,20*70",
    "$GPGSV,2,2,08,24,45,100,40,25,30,200,35,29,60,300,45,31,10,050,20*70",
    "$BDGSV,1,1,04,04,48,092,37,07,67,167,49,12,21,203,28,15,60,099,43*61"};

std::atomic<uint64_t> gHeapCalls;  // malloc calls of every thread
std::atomic<uint32_t> gEpochs, gOutOfOrder;
uint32_t gProduced = 0;  // reader thread
std::string gReceived;   // reader thread; read once the last record has come

// Sentence n of a stream of three GPS-only bursts, then GPS+BeiDou ones: the receiver switches
// mid-stream. Each burst gives one record; once BeiDou is seen, at its $BDGSV.
int32_t sentence(char* out, uint32_t n) {
    uint32_t burst = n < 15 ? n / 5 : (n - 15) / 6 + 3;
    const size_t length = std::strlen(std::strcpy(out, kBurst[n < 15 ? n % 5 : (n - 15) % 6]));
    for (size_t c = length; c-- > 0;)
        if (out[c] == '@') out[c] = static_cast<char>('0' + burst % 10), burst /= 10;
    return static_cast<int32_t>(length);
}

int32_t produce(char* out, int32_t) {
    return gProduced < 15 + (VYR_SOAK_BURSTS - 3) * 6 ? sentence(out, gProduced++) : 0;
}

void keepSentence(const char* text, uint32_t length, void*) {
    gReceived.append(text, length) += "\r\n";
}

// Records must come in burst order: record n carries time n in both GGA and RMC.
void onRecord(const GpsMsgPacket* record, void*) {
    const auto n = static_cast<int32_t>(gEpochs++);
    const GpsTime want{n / 10000, n / 100 % 100, n % 100, 0};
    gOutOfOrder += std::memcmp(&record->gga.time, &want, sizeof want) != 0 ||
                   std::memcmp(&record->rmc.time, &want, sizeof want) != 0;
}

void startReader(GpsNmeaCallback onSentence) {
    const GpsCallbackReg nmea{VYR_GPS_CALLBACK(onSentence), nullptr};
    const GpsCallbackReg data{VYR_GPS_CALLBACK(onRecord), nullptr};
    ASSERT_TRUE(VYR_GPSPARSER_RegNMEARecvCbk(&nmea) == 0 && VYR_GPSPARSER_Register(&data) == 0);
    ASSERT_TRUE(VYR_GPSPARSER_Init() == 0 && VYR_GPSPARSER_Start() == 0);
}

bool waitForEpochs(uint32_t count, int seconds = 30) {
    for (int i = 0; i < seconds * 500 && gEpochs < count; ++i) usleep(2000);
    return gEpochs >= count;
}

long memoryKb() {  // VmRSS + VmHWM
    const std::string s{std::istreambuf_iterator(std::ifstream("/proc/self/status").rdbuf()), {}};
    return std::stol(s.substr(s.find("VmRSS:") + 6)) + std::stol(s.substr(s.find("VmHWM:") + 6));
}

// Every burst once and in order (more records than bursts would be out of order); after a warm-up
// no thread may touch the heap (the main thread only sleeps) and the process may not grow.
TEST(Soak, EveryBurstOnceInOrderNoHeapNoGrowth) {
    vyr::test::PtyDevice pty;
    VYR_SKIP_WITHOUT_PTY(pty);
    ASSERT_EQ(Vyr_GPSPARSER_RegisterSimulater(produce), 0);
    startReader([](const char*, uint32_t, void*) {});
    ASSERT_TRUE(waitForEpochs(1000));
    const auto [memory, heapCalls] = std::pair{memoryKb(), gHeapCalls.load()};  // in this order
    EXPECT_TRUE(waitForEpochs(VYR_SOAK_BURSTS, 600)) << gEpochs << " records";
    EXPECT_EQ(gHeapCalls - heapCalls, 0u) << "heap calls after the warm-up";
    // A sanitizer's allocator keeps freed memory in quarantine: more slack there.
    EXPECT_LE(memoryKb() - memory, VYR_COUNT_HEAP ? 128 : 512) << "grew from " << memory << " kB";
    EXPECT_TRUE(VYR_GPSPARSER_Stop() == 0 && VYR_GPSPARSER_Deinit() == 0);
    EXPECT_EQ(gOutOfOrder.load(), 0u);
    EXPECT_TRUE(heapCalls > 0 || !VYR_COUNT_HEAP) << "the malloc counter is not in effect";
}

// The fault's bytes (none: a hang-up, then Stop, Deinit, a new line, Init and Start), then six
// bursts whose sentences must all arrive, in order, with a record for each.
struct Fault {
    std::string name, bytes;
    friend void PrintTo(const Fault& f, std::ostream* out) { *out << f.name; }
};

std::string noise(std::string bytes = std::string(8192, '\0'), uint32_t x = 1) {
    for (char& c : bytes) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    return bytes + "\r\n";
}

const Fault kFaults[] = {
    {"RandomBytes", noise()},
    {"NulAndFf", std::string("\0\xFF\xFF\0$GPGGA,\0\xFF,1*00\0\r\n\xFF\0", 23)},
    {"OverlongLine", "$GPTXT," + std::string(293, 'x') + "$GPTXT,cut\r\n"},
    {"HangUpAndReopen", ""}};

class LineFaults : public testing::TestWithParam<Fault> {};

TEST_P(LineFaults, SentencesAfterTheFaultAllArrive) {
    std::optional<vyr::test::PtyDevice> pty(std::in_place);
    VYR_SKIP_WITHOUT_PTY(*pty);
    startReader(keepSentence);
    if (GetParam().bytes.empty()) {
        pty->hangUp();
        usleep(1500000);  // end of file on every read: the reader waits between them
        ASSERT_TRUE(VYR_GPSPARSER_Stop() == 0 && VYR_GPSPARSER_Deinit() == 0);
        pty.emplace();  // the receiver comes back
        startReader(keepSentence);
    }
    std::string follow;
    char text[VYR_GPS_SENTENCE_SIZE];
    for (uint32_t n = 0; n < 15 + 3 * 6; ++n) follow.append(text, sentence(text, n)) += "\r\n";
    ASSERT_TRUE(pty->write(GetParam().bytes + follow));
    EXPECT_TRUE(waitForEpochs(6));
    EXPECT_TRUE(VYR_GPSPARSER_Stop() == 0 && VYR_GPSPARSER_Deinit() == 0);
    EXPECT_EQ(gOutOfOrder.load(), 0u) << gEpochs << " records";
    EXPECT_TRUE(gReceived.ends_with(follow));
}

INSTANTIATE_TEST_SUITE_P(Stream, LineFaults, testing::ValuesIn(kFaults));

}  // namespace

#if VYR_COUNT_HEAP
extern "C" void* __libc_malloc(size_t size);
extern "C" void* malloc(size_t size) {  // operator new comes here too
    ++gHeapCalls;
    return __libc_malloc(size);
}
#endif
