#include "support/server/test_server.h"

#include <algorithm>
#include <cctype>

namespace zorvik::test {

namespace {

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// cpp-httplib files the peer's addresses among the request headers; they never were on the wire.
bool is_pseudo_header(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

RecordedRequest record(const httplib::Request& req) {
    RecordedRequest r;
    r.method = req.method;
    r.target = req.target;
    r.path = req.path;
    if (auto q = req.target.find('?'); q != std::string::npos) {
        r.query = req.target.substr(q + 1);
    }
    for (const auto& [name, value] : req.headers) {
        if (!is_pseudo_header(name)) {
            r.headers.emplace_back(name, value);
        }
    }
    r.body = req.body;
    return r;
}

constexpr std::size_t kPiece = 64 * 1024;

} // namespace

std::string RecordedRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (same_name(n, name)) {
            return v;
        }
    }
    return {};
}

bool RecordedRequest::has_header(std::string_view name) const {
    return header_count(name) > 0;
}

std::size_t RecordedRequest::header_count(std::string_view name) const {
    return static_cast<std::size_t>(std::count_if(
        headers.begin(), headers.end(), [&](const auto& h) { return same_name(h.first, name); }));
}

LocalServer::LocalServer(Scheme scheme, ServerCert cert) : scheme_(scheme) {
    if (scheme == Scheme::Https) {
        const TestCertificates& certs = test_certificates();
        if (!certs.ok) {
            return;
        }
        const CertKeyFiles& files = certs.files(cert);
        server_ =
            std::make_unique<httplib::SSLServer>(files.cert_file.c_str(), files.key_file.c_str());
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    if (!server_->is_valid()) {
        return;
    }
    // Bounds how long the destructor waits for a client that keeps its connection open.
    server_->set_keep_alive_timeout(1);
    // Without it a reused connection waits on a delayed ACK (~40 ms) before each reply.
    server_->set_tcp_nodelay(true);

    auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        dispatch(req, res);
    };
    const std::string any = ".*";
    server_->Get(any, handler);
    server_->Post(any, handler);
    server_->Put(any, handler);
    server_->Patch(any, handler);
    server_->Delete(any, handler);
    server_->Options(any, handler);

    const int port = server_->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        return;
    }
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listen_returned_ = true;
    });
    // stop() is a no-op until the accept loop runs, so the destructor must not race ahead of it.
    // The socket already listens, so no client has to wait for this.
    for (int i = 0; i < 500 && !server_->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    port_ = port;
}

LocalServer::~LocalServer() {
    {
        std::lock_guard lock(stall_mutex_);
        ending_ = true;
    }
    stall_cv_.notify_all();
    if (thread_.joinable()) {
        while (!server_->is_running() && !listen_returned_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        server_->stop();
        thread_.join();
    }
}

std::string LocalServer::base_url() const {
    return (scheme_ == Scheme::Https ? "https://127.0.0.1:" : "http://127.0.0.1:") +
           std::to_string(port_);
}

std::string LocalServer::url(std::string_view path_and_query) const {
    return base_url() + std::string(path_and_query);
}

void LocalServer::on(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(mutex_);
    for (auto& route : routes_) {
        if (route.method == method && route.path == path) {
            route.handler = std::move(handler);
            return;
        }
    }
    routes_.push_back({std::move(method), std::move(path), std::move(handler)});
}

void LocalServer::dispatch(const httplib::Request& req, httplib::Response& res) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(record(req));
        const std::string method = req.method == "HEAD" ? "GET" : req.method;
        // An exact method beats "any".
        for (const auto& route : routes_) {
            if (route.path != req.path) {
                continue;
            }
            if (route.method == method) {
                handler = route.handler;
                break;
            }
            if (route.method.empty() && !handler) {
                handler = route.handler;
            }
        }
    }
    if (!handler) {
        res.status = 404;
        res.set_content("no route", "text/plain");
        return;
    }
    handler(req, res);
}

bool LocalServer::stall(std::chrono::milliseconds max_wait) {
    std::unique_lock lock(stall_mutex_);
    const unsigned long generation = stall_generation_;
    return stall_cv_.wait_for(lock, max_wait,
                              [&] { return ending_ || stall_generation_ != generation; });
}

void LocalServer::release_stalls() {
    {
        std::lock_guard lock(stall_mutex_);
        ++stall_generation_;
    }
    stall_cv_.notify_all();
}

void LocalServer::serve_echo(const std::string& path) {
    on({}, path, [](const httplib::Request& req, httplib::Response& res) {
        const RecordedRequest r = record(req);
        std::string out = r.method + " " + r.target + "\r\n";
        for (const auto& [name, value] : r.headers) {
            out += name + ": " + value + "\r\n";
        }
        out += "\r\n";
        out += r.body;
        res.set_content(out, "text/plain");
    });
}

void LocalServer::serve_text(const std::string& path, int status, std::string body,
                             std::vector<std::pair<std::string, std::string>> headers,
                             std::string content_type) {
    on({}, path,
       [status, body = std::move(body), headers = std::move(headers),
        content_type = std::move(content_type)](const httplib::Request&, httplib::Response& res) {
           res.status = status;
           for (const auto& [name, value] : headers) {
               res.set_header(name, value);
           }
           res.set_content(body, content_type);
       });
}

void LocalServer::serve_set_cookies(const std::string& path, std::vector<std::string> values) {
    std::vector<std::pair<std::string, std::string>> headers;
    for (auto& v : values) {
        headers.emplace_back("Set-Cookie", std::move(v));
    }
    serve_text(path, 200, "cookies", std::move(headers));
}

void LocalServer::serve_redirect(const std::string& path, int status, std::string location) {
    serve_text(path, status, "moved", {{"Location", std::move(location)}});
}

void LocalServer::serve_stall(const std::string& path, std::chrono::milliseconds max_wait,
                              std::string body) {
    on({}, path,
       [this, max_wait, body = std::move(body)](const httplib::Request&, httplib::Response& res) {
           stall(max_wait);
           res.set_content(body, "text/plain");
       });
}

void LocalServer::serve_stall_mid_body(const std::string& path, std::size_t first_bytes,
                                       std::chrono::milliseconds max_wait) {
    on({}, path, [this, first_bytes, max_wait](const httplib::Request&, httplib::Response& res) {
        const std::size_t total = first_bytes + 16;
        res.set_content_provider(total, "application/octet-stream",
                                 [this, first_bytes, total, max_wait](
                                     std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     const std::string body = generated_body(total);
                                     if (offset < first_bytes) {
                                         return sink.write(body.data() + offset,
                                                           first_bytes - offset);
                                     }
                                     stall(max_wait);
                                     return sink.write(body.data() + offset, total - offset);
                                 });
    });
}

void LocalServer::serve_generated(const std::string& path, std::size_t size, bool chunked) {
    on({}, path, [size, chunked](const httplib::Request&, httplib::Response& res) {
        // One piece, reused: byte i depends on i % 26 only and pieces start at multiples of
        // kPiece, so each piece starts at a known phase.
        auto piece = std::make_shared<std::string>(generated_body(kPiece + 26));
        auto slice = [piece](std::size_t offset, std::size_t n) {
            return std::string_view(*piece).substr(offset % 26, n);
        };
        if (chunked) {
            res.set_chunked_content_provider(
                "application/octet-stream",
                [size, slice](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= size) {
                        sink.done();
                        return true;
                    }
                    const auto part = slice(offset, std::min(kPiece, size - offset));
                    return sink.write(part.data(), part.size());
                });
        } else {
            res.set_content_provider(
                size, "application/octet-stream",
                [slice](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const auto part = slice(offset, std::min(kPiece, length));
                    return sink.write(part.data(), part.size());
                });
        }
    });
}

std::string LocalServer::generated_body(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>('a' + i % 26);
    }
    return s;
}

LocalServer::Handler LocalServer::cut_short(std::size_t announced, std::size_t sent,
                                            std::string content_type) {
    return [announced, sent, content_type = std::move(content_type)](const httplib::Request&,
                                                                     httplib::Response& res) {
        res.set_content_provider(announced, content_type,
                                 [sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset >= sent) {
                                         return false;
                                     }
                                     const std::string piece = generated_body(sent);
                                     return sink.write(piece.data(), piece.size());
                                 });
    };
}

std::vector<RecordedRequest> LocalServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<RecordedRequest> LocalServer::last_request() const {
    std::lock_guard lock(mutex_);
    if (requests_.empty()) {
        return std::nullopt;
    }
    return requests_.back();
}

std::size_t LocalServer::request_count() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

void LocalServer::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

} // namespace zorvik::test
