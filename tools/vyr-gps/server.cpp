#include "server.h"

#include "notice.h"
#include "timing_reports.h"
#include "tool_error.h"

namespace vyr::tool {

namespace {

// One or more protocol lines, each ended with CR LF.
SharedText shared(std::string text) {
    return std::make_shared<const std::string>(std::move(text) + "\r\n");
}

// What a report may say of a fix while the line is down: no fix.
Fix withoutFix(Fix fix) {
    fix.mode = 0;
    return fix;
}

}  // namespace

asio::ip::tcp::endpoint parseListenAddress(const std::string& text) {
    std::string host = "127.0.0.1";
    std::string port = text;
    if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        }
        if (host.empty()) {
            host = "127.0.0.1";
        }
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    asio::error_code error;
    const asio::ip::address address = asio::ip::make_address(host, error);
    char* end = nullptr;
    const unsigned long number = std::strtoul(port.c_str(), &end, 10);
    if (error || port.empty() || *end != '\0' || number > 65535) {
        throw ToolError("--listen " + text + ": expected HOST:PORT with a numeric address");
    }
    return {address, static_cast<unsigned short>(number)};
}

Server::Server(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, Config config)
    : io_(io), acceptor_(io), retryAccept_(io), config_(std::move(config)) {
    asio::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (!error) {
        acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
        acceptor_.bind(endpoint, error);
    }
    if (!error) {
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        throw ToolError("cannot listen on " + endpoint.address().to_string() + ":" +
                        std::to_string(endpoint.port()) + ": " + error.message());
    }
    accept();
}

asio::ip::tcp::endpoint Server::endpoint() const {
    asio::error_code error;
    return acceptor_.local_endpoint(error);
}

void Server::accept() {
    acceptor_.async_accept([this](asio::error_code error, asio::ip::tcp::socket socket) {
        if (stopped_) {
            return;
        }
        if (!error) {
            auto client = std::make_shared<Client>(std::move(socket), *this, nextId_++);
            clients_.push_back(client);
            const auto version = shared(versionResponse(config_.release));
            if (static_cast<int>(clients_.size()) > config_.maxClients) {
                notice("client %llu (%s) refused: %d clients already",
                       static_cast<unsigned long long>(client->id()), client->peer().c_str(),
                       config_.maxClients);
                client->start(version);
                client->sendAndClose(shared(errorResponse("Too many clients: at most " +
                                                          std::to_string(config_.maxClients))));
            } else {
                client->start(version);
            }
            accept();
            return;
        }
        // Out of descriptors or another failure that would repeat at once:
        // try again a little later instead of spinning.
        notice("cannot accept a client: %s", error.message().c_str());
        retryAccept_.expires_after(std::chrono::milliseconds(200));
        retryAccept_.async_wait([this](asio::error_code timerError) {
            if (!timerError && !stopped_) {
                accept();
            }
        });
    });
}

void Server::publishTpv(const Fix& fix) {
    if (activated_) {
        lastFix_ = fix;
    }
    publishReport(tpvReport(activated_ ? fix : withoutFix(fix), config_.device));
}

void Server::publishSky(const Sky& sky) {
    std::string report = skyReport(sky, config_.device);
    if (activated_) {
        lastSky_ = report;
    }
    publishReport(report);
}

void Server::publishGst(const Gst& gst) {
    publishReport(gstReport(gst, config_.device));
}

void Server::publishReport(const std::string& report) {
    const auto text = shared(report);
    for (const auto& client : clients_) {
        if (!client->closed() && client->policy().wantsReports() &&
            watchesDevice(client->policy())) {
            client->send(text);
        }
    }
}

void Server::publishToff(const TimeSample& sample) {
    if (timingWatchers_ > 0) {
        publishTiming(toffReport(sample, config_.device));
    }
}

void Server::publishPps(const TimeSample& sample, const std::string& shm) {
    if (timingWatchers_ > 0) {
        publishTiming(ppsReport(sample, config_.device, shm));
    }
}

void Server::publishTiming(const std::string& report) {
    const auto text = shared(report);
    for (const auto& client : clients_) {
        if (!client->closed() && client->policy().enable && client->policy().pps &&
            watchesDevice(client->policy())) {
            client->send(text);
        }
    }
}

void Server::publishSentence(std::string sentence) {
    const auto text = shared(std::move(sentence));
    for (const auto& client : clients_) {
        if (!client->closed() && client->policy().wantsSentences() &&
            watchesDevice(client->policy())) {
            client->send(text);
        }
    }
}

void Server::setLine(std::optional<std::string> activated, int bps) {
    bps_ = bps;
    if (activated == activated_) {
        return;
    }
    const bool down = !activated;
    activated_ = std::move(activated);
    if (down) {
        // No longer the line's current fix and sky.
        lastFix_.reset();
        lastSky_.clear();
    }
    const auto notice = shared(down ? deviceDeactivated(config_.device) : deviceResponse(device()));
    for (const auto& client : clients_) {
        if (!client->closed() && client->policy().enable && watchesDevice(client->policy())) {
            client->send(notice);
        }
    }
}

DeviceInfo Server::device() const {
    return {config_.device, activated_, bps_};
}

bool Server::watchesDevice(const WatchPolicy& policy) const {
    return policy.device.empty() || policy.device == config_.device;
}

// ?DEVICE= may name this device and restate its settings; a setting that
// differs is refused: the library reads its line at one fixed speed and mode.
std::string Server::deviceAnswer(const DeviceChange& change) const {
    if (change.path && *change.path != config_.device) {
        return errorResponse("No such device: " + *change.path);
    }
    const bool sameSettings = change.bps.value_or(bps_) == bps_ &&
                              change.parity.value_or("N") == "N" &&
                              change.stopbits.value_or(1) == 1 && change.native.value_or(0) == 0 &&
                              change.cycle.value_or(1.0) == 1.0;
    if (!sameSettings) {
        return errorResponse("Cannot change the speed or mode of " + config_.device +
                             ": the library reads it at " + std::to_string(bps_) +
                             " bps, 8N1, NMEA, as it is");
    }
    return deviceResponse(device());
}

// Before the first fix and while the line is down (no last fix then): mode 0
// and no sky.
std::string Server::pollAnswer() const {
    return pollResponse(isoNow(), device(),
                        lastFix_ ? tpvReport(*lastFix_, config_.device) : std::string(), lastSky_);
}

void Server::respond(Client& client, const Request& request, WatchPolicy& policy) {
    switch (request.kind) {
        case Request::Kind::Version:
            client.send(shared(versionResponse(config_.release)));
            break;
        case Request::Kind::Devices:
            client.send(shared(devicesResponse(device())));
            break;
        case Request::Kind::Device:
            client.send(
                shared(request.device ? deviceAnswer(*request.device) : deviceResponse(device())));
            break;
        case Request::Kind::Watch:
            if (request.watch) {
                request.watch->applyTo(policy);
                countWatchers();
            }
            client.send(shared(devicesResponse(device()) + "\r\n" + watchResponse(policy)));
            break;
        case Request::Kind::Poll:
            client.send(shared(pollAnswer()));
            break;
        case Request::Kind::Error:
            client.send(shared(errorResponse(request.error)));
            break;
    }
}

void Server::clientBehind(Client& client, size_t queued) {
    ++dropped_;
    notice("client %llu (%s) dropped: %zu bytes waiting, more than %zu (%llu dropped so far)",
           static_cast<unsigned long long>(client.id()), client.peer().c_str(), queued,
           config_.clientBufferBytes, static_cast<unsigned long long>(dropped_));
}

// Called from Client::close, possibly while publish* walks the list: the
// client is taken out of it on a later turn of the loop.
void Server::clientClosed(const std::shared_ptr<Client>& client) {
    asio::post(io_, [this, client] {
        clients_.remove(client);
        countWatchers();
    });
}

void Server::countWatchers() {
    int reports = 0;
    int sentences = 0;
    int timing = 0;
    for (const auto& client : clients_) {
        if (!client->closed() && client->policy().enable && watchesDevice(client->policy())) {
            ++reports;
            sentences += client->policy().wantsSentences() ? 1 : 0;
            timing += client->policy().pps ? 1 : 0;
        }
    }
    watchers_.store(reports);
    sentenceWatchers_.store(sentences);
    timingWatchers_ = timing;
}

void Server::stop() {
    stopped_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    retryAccept_.cancel();
    const auto clients = clients_;
    for (const auto& client : clients) {
        client->close();
    }
}

}  // namespace vyr::tool
