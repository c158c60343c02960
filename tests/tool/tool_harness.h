// Test harness for the vyr-gps tool: runs it as a child process, and models
// what the library must make of a capture (framing on the serial line, then
// the epoch completion rule), so that the tool's output can be checked
// against figures computed here from the capture bytes alone.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace vyr::tooltest {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> splitFields(const std::string& sentence) {
    std::vector<std::string> fields;
    const std::string body = sentence.substr(0, sentence.find('*'));
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        fields.push_back(body.substr(start, comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

// ddmm.mmmm text and hemisphere letter to decimal degrees.
inline double decimalDegrees(const std::string& ddmm, const std::string& hemisphere) {
    const double value = std::stod(ddmm);
    const double degrees = static_cast<int>(value / 100);
    const double result = degrees + (value - degrees * 100) / 60.0;
    return (hemisphere == "S" || hemisphere == "W") ? -result : result;
}

// One epoch the library must deliver, as the capture has it.
struct ModelEpoch {
    std::string rmc;                     // the RMC text stored for the epoch
    std::array<std::string, 4> gpGsv{};  // by message number
    std::array<std::string, 4> bdGsv{};
    [[nodiscard]] bool valid() const {
        const auto fields = splitFields(rmc);
        return fields.size() > 2 && fields[2] == "A";
    }
    [[nodiscard]] int satellitesListed() const {
        int count = 0;
        for (const auto* series : {&gpGsv, &bdGsv}) {
            for (const std::string& text : *series) {
                const auto fields = text.empty() ? std::vector<std::string>{} : splitFields(text);
                for (size_t i = 4; i < fields.size(); i += 4) {  // PRN of each entry
                    count += fields[i].empty() ? 0 : 1;
                }
            }
        }
        return count;
    }
};

struct CaptureModel {
    std::vector<std::string> sentences;  // as framed from the serial line
    std::vector<ModelEpoch> epochs;      // delivered, in order
    [[nodiscard]] size_t validEpochs() const {
        size_t count = 0;
        for (const auto& epoch : epochs) {
            count += epoch.valid() ? 1 : 0;
        }
        return count;
    }
};

// Serial line: a sentence runs from "$" to CR or LF and holds at most 179
// characters; a "$" inside a sentence starts it again while there is room,
// and is dropped like any other character once the sentence is full.
inline std::vector<std::string> frameLine(const std::string& bytes) {
    std::vector<std::string> sentences;
    std::string current;
    bool open = false;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (open) {
                sentences.push_back(current);
            }
            open = false;
        } else if (c == '$' && (!open || current.size() < 179)) {
            current = "$";
            open = true;
        } else if (open && current.size() < 179) {
            current += c;
        }
    }
    return sentences;
}

// The completion rule: an epoch opens at a GGA; GSA, RMC and GSV count only
// while it is open; it is complete with GGA, a GSA, an RMC and the GPS GSV
// series at its last message (total capped at 4), plus the BeiDou series once
// any BDGSV has been seen, and is delivered and cleared at once.
inline CaptureModel modelCapture(const std::string& bytes) {
    CaptureModel model;
    model.sentences = frameLine(bytes);
    bool open = false, haveGsa = false, haveRmc = false, gpDone = false, bdDone = false;
    bool beidouSeen = false;
    ModelEpoch epoch;
    const auto has = [](const std::string& s, const char* name) {
        return s.find(name) != std::string::npos;
    };
    const auto seriesStep = [](const std::string& s, bool gps, std::array<std::string, 4>& slots,
                               bool& done) {
        int total = 0, number = 0;
        const int read = gps ? std::sscanf(s.c_str(), "$GPGSV,%d,%d,", &total, &number)
                             : std::sscanf(s.c_str(), "$BDGSV,%d,%d,", &total, &number);
        if (read != 2 || number < 1 || number > 4) {
            return;
        }
        slots[static_cast<size_t>(number - 1)] = s;
        done = (total > 4 ? 4 : total) == number;
    };
    for (const std::string& s : model.sentences) {
        if (has(s, "GNGGA") || has(s, "BDGGA") || has(s, "GPGGA")) {
            open = true;
        } else if (has(s, "GPGSA") || has(s, "GNGSA")) {
            haveGsa = haveGsa || open;
        } else if (has(s, "GNRMC") || has(s, "GPRMC")) {
            if (open) {
                haveRmc = true;
                epoch.rmc = s;
            }
        } else if (has(s, "GPGSV")) {
            if (open) {
                seriesStep(s, true, epoch.gpGsv, gpDone);
            }
        } else if (has(s, "BDGSV")) {
            beidouSeen = true;
            if (open) {
                seriesStep(s, false, epoch.bdGsv, bdDone);
            }
        }
        if (open && haveGsa && haveRmc && gpDone && (!beidouSeen || bdDone)) {
            model.epochs.push_back(epoch);
            epoch = ModelEpoch{};
            open = haveGsa = haveRmc = gpDone = bdDone = false;
        }
    }
    return model;
}

// A running vyr-gps process with its standard output and error collected.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int outPipe[2];
        int errPipe[2];
        if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, outPipe[0]);
        posix_spawn_file_actions_addclose(&actions, errPipe[0]);
        std::vector<char*> argv;
        std::string tool = VYR_TEST_TOOL_PATH;
        argv.push_back(tool.data());
        std::vector<std::string> copy = args;
        for (std::string& arg : copy) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        // The child must not inherit a blocked SIGINT/SIGTERM from the test.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(outPipe[1]);
        close(errPipe[1]);
        outFd_ = outPipe[0];
        errFd_ = errPipe[0];
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(outFd_);
        close(errFd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] bool started() const { return pid_ > 0; }
    void signal(int number) const { kill(pid_, number); }

    // Collects output for at most timeoutMs; false once both pipes are closed.
    bool pump(int timeoutMs) {
        if (outFd_ < 0 && errFd_ < 0) {
            return false;
        }
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) <= 0) {
            return true;
        }
        for (int i = 0; i < 2; ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                (i == 0 ? outFd_ : errFd_) = -1;
            }
        }
        return outFd_ >= 0 || errFd_ >= 0;
    }

    // Waits for the exit (killing the child after timeoutSeconds); the exit
    // status, or -1 after a kill or an abnormal end.
    int wait(int timeoutSeconds) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (pump(100)) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                break;
            }
        }
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out;
    std::string err;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int outFd_ = -1;
    int errFd_ = -1;
};

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

inline RunResult runTool(const std::vector<std::string>& args, int timeoutSeconds = 120) {
    Child child(args);
    const int status = child.wait(timeoutSeconds);
    return {status, child.out, child.err};
}

}  // namespace vyr::tooltest
