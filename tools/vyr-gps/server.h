// The TCP side of vyr-gps serve, on one Asio event loop: the listening
// socket, the connected clients and what is sent to them. Everything here
// runs on the loop's thread; the library's callbacks reach it only through
// the feed (library_feed.h), which posts to the loop.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "fix.h"
#include "reports.h"
#include "requests.h"
#include "time_sample.h"

namespace vyr::tool {

using SharedText = std::shared_ptr<const std::string>;

class Server;

// One connected client: its watch policy, its request input and its output
// queue. The queue is bounded: a client that falls further behind than the
// bound is dropped, so that it never holds back the others.
class Client : public std::enable_shared_from_this<Client> {
public:
    Client(asio::ip::tcp::socket socket, Server& server, uint64_t id);
    void start(const SharedText& greeting);
    void send(const SharedText& text);
    // Sends text, then closes (the ERROR of a client past the limit).
    void sendAndClose(const SharedText& text);
    void close();

    [[nodiscard]] const WatchPolicy& policy() const { return policy_; }
    [[nodiscard]] bool closed() const { return closed_; }
    [[nodiscard]] uint64_t id() const { return id_; }
    [[nodiscard]] const std::string& peer() const { return peer_; }

private:
    void readSome();
    void take(const char* data, size_t size);
    void handleLine(std::string_view line);
    void writeMore();

    asio::ip::tcp::socket socket_;
    Server& server_;
    uint64_t id_;
    std::string peer_;
    WatchPolicy policy_;
    std::array<char, 2048> input_{};
    std::string line_;
    bool skipping_ = false;  // the rest of an overlong line
    std::list<SharedText> output_;
    size_t queuedBytes_ = 0;
    size_t inFlight_ = 0;  // texts handed to the current write
    bool writing_ = false;
    bool closeWhenSent_ = false;
    bool closed_ = false;
};

class Server {
public:
    struct Config {
        std::string device;
        std::string release;
        int maxClients = 64;
        size_t clientBufferBytes = 256 * 1024;
    };

    // Binds and listens (ToolError when it cannot).
    Server(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Config config);
    [[nodiscard]] asio::ip::tcp::endpoint endpoint() const;

    // A report to every client that watches reports from this device; the
    // latest TPV and SKY also answer ?POLL. While the line is down a TPV says
    // mode 0.
    void publishTpv(const Fix& fix);
    void publishSky(const Sky& sky);
    void publishGst(const Gst& gst);
    // A TOFF report of a time sample, and a PPS report of a pulse sample
    // (shm: the shared-memory segment it also went to, or empty), to every
    // client that watches with "pps":true; nothing is formatted without one.
    void publishToff(const TimeSample& sample);
    void publishPps(const TimeSample& sample, const std::string& shm);
    // One framed sentence to every client that watches sentences.
    void publishSentence(std::string sentence);
    // The line came up (activated: ISO 8601 time) at bps, or went down
    // (nullopt). Every watcher is told with a DEVICE object.
    void setLine(std::optional<std::string> activated, int bps);
    // Closes the listening socket and every client.
    void stop();

    // Clients whose watch is enabled (read from other threads).
    [[nodiscard]] int watchers() const { return watchers_.load(); }
    // Whether any client wants sentences (read by the feed on the reader thread).
    [[nodiscard]] bool sentencesWanted() const { return sentenceWatchers_.load() > 0; }

    // For Client:
    void respond(Client& client, const Request& request, WatchPolicy& policy);
    void clientBehind(Client& client, size_t queued);
    void clientClosed(const std::shared_ptr<Client>& client);
    [[nodiscard]] size_t clientBufferBytes() const { return config_.clientBufferBytes; }

private:
    void accept();
    void countWatchers();
    void publishReport(const std::string& report);
    void publishTiming(const std::string& report);
    [[nodiscard]] DeviceInfo device() const;
    // Whether the policy watches this server's device (no filter, or its path).
    [[nodiscard]] bool watchesDevice(const WatchPolicy& policy) const;
    [[nodiscard]] std::string deviceAnswer(const DeviceChange& change) const;
    [[nodiscard]] std::string pollAnswer() const;

    asio::io_context& io_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retryAccept_;
    Config config_;
    std::list<std::shared_ptr<Client>> clients_;
    uint64_t nextId_ = 1;
    uint64_t dropped_ = 0;
    std::optional<std::string> activated_;  // absent while the line is down
    int bps_ = 9600;
    // What POLL answers with: the last fix and sky since the line came up.
    std::optional<Fix> lastFix_;
    std::string lastSky_;
    std::atomic<int> watchers_{0};
    std::atomic<int> sentenceWatchers_{0};
    int timingWatchers_ = 0;  // event loop only
    bool stopped_ = false;
};

// "HOST:PORT", "[v6]:PORT" or ":PORT"/"PORT" (loopback). ToolError when the
// text names no address and port.
[[nodiscard]] asio::ip::tcp::endpoint parseListenAddress(const std::string& text);

}  // namespace vyr::tool
