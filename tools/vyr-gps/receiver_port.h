// A receiver's serial device opened by the tool itself (monitor and serve
// with --device): raw 8N1 at a chosen speed, held exclusively as the library
// holds its own port (TIOCEXCL, which refuses later opens by other users, and
// an advisory flock that every program linking the library respects, also
// as root). The tool relays what it reads into the library's line.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vyr::tool {

// Speeds --baud auto tries, the most common first.
inline constexpr std::array<int, 7> kUsualBauds = {9600, 4800, 115200, 38400, 19200, 57600, 230400};

// Whether the tool can set a line to bps.
[[nodiscard]] bool isSupportedBaud(int bps);

class ReceiverPort {
public:
    enum class Failure { Missing, NotATerminal, PermissionDenied, InUse, Other };

    ReceiverPort() = default;
    ~ReceiverPort() { close(); }
    ReceiverPort(const ReceiverPort&) = delete;
    ReceiverPort& operator=(const ReceiverPort&) = delete;

    // Opens path for reading, exclusively; setSpeed makes it raw. On failure
    // the port stays closed and failureText() says why in one sentence.
    [[nodiscard]] std::optional<Failure> open(const std::string& path);
    // Gives the port up: exclusive use ended, lock released, closed.
    void close();
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] int fd() const { return fd_; }

    // Raw 8N1 at bps; what arrived before is dropped. False when the line
    // refuses the speed.
    bool setSpeed(int bps);

    [[nodiscard]] const std::string& failureText() const { return failureText_; }

private:
    int fd_ = -1;
    std::string failureText_;
};

// Finds sentences with a good checksum in what a line delivers at a trial
// speed: at a wrong one the bytes are noise. Fed in pieces.
class SentenceProbe {
public:
    // Sentences with a good checksum that prove a speed.
    static constexpr int kSentencesNeeded = 2;

    void feed(std::string_view bytes);
    [[nodiscard]] bool proven() const { return good_ >= kSentencesNeeded; }
    // Everything from the first good sentence's "$" on: what the library
    // should get of the bytes read while probing.
    [[nodiscard]] std::string fromFirstGood() const;

private:
    std::string bytes_;
    size_t sentenceStart_ = std::string::npos;  // in bytes_, or npos outside a sentence
    size_t firstGood_ = std::string::npos;
    int good_ = 0;
};

}  // namespace vyr::tool
