#include <vector>

#include "server.h"

namespace vyr::tool {

namespace {

constexpr size_t kMaxBuffersPerWrite = 64;
// The kernel's share of a client's backlog, fixed so that the bound holds:
// left to itself, Linux grows a loopback socket's send buffer to megabytes.
constexpr int kSocketSendBuffer = 64 * 1024;

}  // namespace

Client::Client(asio::ip::tcp::socket socket, Server& server, uint64_t id)
    : socket_(std::move(socket)), server_(server), id_(id) {
    asio::error_code error;
    const auto remote = socket_.remote_endpoint(error);
    peer_ = error ? std::string("?")
                  : remote.address().to_string() + ":" + std::to_string(remote.port());
    socket_.set_option(asio::ip::tcp::no_delay(true), error);
    socket_.set_option(asio::socket_base::send_buffer_size(kSocketSendBuffer), error);
}

void Client::start(const SharedText& greeting) {
    send(greeting);
    readSome();
}

void Client::send(const SharedText& text) {
    if (closed_ || closeWhenSent_) {
        return;
    }
    if (queuedBytes_ + text->size() > server_.clientBufferBytes()) {
        server_.clientBehind(*this, queuedBytes_);
        close();
        return;
    }
    output_.push_back(text);
    queuedBytes_ += text->size();
    if (!writing_) {
        writeMore();
    }
}

void Client::sendAndClose(const SharedText& text) {
    send(text);
    closeWhenSent_ = true;
}

void Client::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    server_.clientClosed(shared_from_this());
}

void Client::readSome() {
    socket_.async_read_some(asio::buffer(input_),
                            [self = shared_from_this()](asio::error_code error, size_t count) {
                                if (self->closed_) {
                                    return;
                                }
                                if (error) {
                                    self->close();
                                    return;
                                }
                                self->take(self->input_.data(), count);
                                if (!self->closed_) {
                                    self->readSome();
                                }
                            });
}

// Requests end at a newline. A read that ends in ";" also completes what it
// holds, for clients that send commands without a line end; a half-sent
// command waits for the rest.
void Client::take(const char* data, size_t size) {
    for (size_t i = 0; i < size && !closed_; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (!skipping_) {
                handleLine(line_);
            }
            line_.clear();
            skipping_ = false;
        } else if (!skipping_) {
            line_ += c;
            if (line_.size() > kMaxRequestLine) {
                send(std::make_shared<const std::string>(
                    errorResponse("Request too long: more than " + std::to_string(kMaxRequestLine) +
                                  " bytes") +
                    "\r\n"));
                line_.clear();
                skipping_ = true;
            }
        }
    }
    if (!closed_ && !skipping_ && !line_.empty() && line_.back() == ';') {
        handleLine(line_);
        line_.clear();
    }
}

void Client::handleLine(std::string_view line) {
    for (const Request& request : parseRequestLine(line)) {
        if (closed_) {
            return;
        }
        server_.respond(*this, request, policy_);
    }
}

// Hands up to kMaxBuffersPerWrite queued texts to one gathered write.
void Client::writeMore() {
    if (output_.empty()) {
        writing_ = false;
        if (closeWhenSent_) {
            close();
        }
        return;
    }
    std::vector<asio::const_buffer> buffers;
    for (auto it = output_.begin(); it != output_.end() && buffers.size() < kMaxBuffersPerWrite;
         ++it) {
        buffers.push_back(asio::buffer(**it));
    }
    inFlight_ = buffers.size();
    writing_ = true;
    asio::async_write(socket_, buffers,
                      [self = shared_from_this()](asio::error_code error, size_t /*written*/) {
                          for (; self->inFlight_ > 0; --self->inFlight_) {
                              self->queuedBytes_ -= self->output_.front()->size();
                              self->output_.pop_front();
                          }
                          if (self->closed_) {
                              return;
                          }
                          if (error) {
                              self->close();
                              return;
                          }
                          self->writeMore();
                      });
}

}  // namespace vyr::tool
