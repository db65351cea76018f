// The stand-in web service on cpp-httplib with an OpenSSL-made certificate,
// and a bare TLS stand-in for answers cpp-httplib cannot give.
#include "fake_service.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace testsupport {

namespace {

// A self-signed certificate for the subjectAltName list names and its key,
// as PEM files; false with the reason when OpenSSL refuses.
bool make_self_signed_cert(const std::string& cert_path, const std::string& key_path, const std::string& names,
                           std::string* why) {
    auto fail = [&](const char* what) {
        if (why) *why = what;
        return false;
    };
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) return fail("key generation");
    X509* cert = X509_new();
    bool ok = cert != nullptr;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::time(nullptr)));
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 7 * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
        const char* exts[][2] = {{"subjectAltName", names.c_str()},
                                 {"basicConstraints", "critical,CA:TRUE"},
                                 {"keyUsage", "digitalSignature,keyCertSign"}};
        for (auto& e : exts) {
            X509_EXTENSION* ext = X509V3_EXT_conf(nullptr, &ctx, e[0], e[1]);
            if (!ext || !X509_add_ext(cert, ext, -1)) ok = false;
            if (ext) X509_EXTENSION_free(ext);
        }
        if (ok) ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        FILE* f = std::fopen(cert_path.c_str(), "wb");
        ok = f && PEM_write_X509(f, cert);
        if (f) std::fclose(f);
        f = ok ? std::fopen(key_path.c_str(), "wb") : nullptr;
        ok = f && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
        if (f) std::fclose(f);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok ? true : fail("certificate");
}

}  // namespace

struct FakeService::Impl {
    std::string cert, key;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = -1;
    mutable std::mutex mutex;
    std::map<std::string, std::deque<FakeResponse>> queues;
    std::map<std::string, FakeResponse> defaults;
    std::map<std::string, std::function<FakeResponse(const std::string&)>> responders;
    std::vector<FakeRequest> requests;

    void answer(const httplib::Request& req, httplib::Response& res) {
        FakeResponse r;
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto q = queues.find(req.path);
            if (q != queues.end() && !q->second.empty()) {
                r = q->second.front();
                q->second.pop_front();
                found = true;
            } else if (responders.count(req.path)) {
                r = responders[req.path](req.body);
                found = true;
            } else if (defaults.count(req.path)) {
                r = defaults[req.path];
                found = true;
            }
            requests.push_back({req.method, req.path, req.body, req.get_header_value("Content-Type"), req.target,
                                found ? r.status : 404});
        }
        if (!found) {
            res.status = 404;
            res.set_content("not here", "text/plain");
            return;
        }
        if (r.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(r.delay_ms));
        res.status = r.status;
        if (!r.location.empty()) res.set_header("Location", r.location);
        if (!r.content_encoding.empty()) res.set_header("Content-Encoding", r.content_encoding);
        if (r.drip_ms > 0) {
            const std::string body = r.body;
            const int drip = r.drip_ms;
            res.set_content_provider(body.size(), r.content_type.c_str(),
                                     [body, drip](size_t offset, size_t, httplib::DataSink& sink) {
                                         std::this_thread::sleep_for(std::chrono::milliseconds(drip));
                                         return sink.write(body.data() + offset, 1);
                                     });
            return;
        }
        if (r.truncate_at == std::string::npos) {
            res.set_content(r.body, r.content_type.c_str());
            return;
        }
        const std::string body = r.body;
        const size_t cut = std::min(r.truncate_at, body.size());
        const int stall = r.stall_ms;
        res.set_content_provider(body.size(), r.content_type.c_str(),
                                 [body, cut, stall](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset < cut) {
                                         sink.write(body.data() + offset, cut - offset);
                                         return true;
                                     }
                                     if (stall) std::this_thread::sleep_for(std::chrono::milliseconds(stall));
                                     return false;  // drop the connection short of the length promised
                                 });
    }
};

FakeService::FakeService(const std::string& dir, const std::string& cert_names, int port) : impl_(new Impl) {
    impl_->cert = dir + "/cert.pem";
    impl_->key = dir + "/key.pem";
    std::string why;
    if (!make_self_signed_cert(impl_->cert, impl_->key, cert_names, &why)) {
        std::fprintf(stderr, "fake service: %s failed\n", why.c_str());
        return;
    }
    impl_->server.reset(new httplib::SSLServer(impl_->cert.c_str(), impl_->key.c_str()));
    if (!impl_->server->is_valid()) return;
    impl_->server->set_keep_alive_max_count(1);
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { impl_->answer(req, res); };
    impl_->server->Get(R"(/.*)", handler);
    impl_->server->Post(R"(/.*)", handler);
    if (port > 0)
        impl_->port = impl_->server->bind_to_port("127.0.0.1", port) ? port : -1;
    else
        impl_->port = impl_->server->bind_to_any_port("127.0.0.1");
    if (impl_->port <= 0) return;
    impl_->thread = std::thread([this] { impl_->server->listen_after_bind(); });
    // A stop() before the accept loop runs would be missed and leave it running forever.
    for (int i = 0; i < 10000 && !impl_->server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeService::~FakeService() {
    if (impl_->server) impl_->server->stop();
    if (impl_->thread.joinable()) impl_->thread.join();
}

bool FakeService::running() const { return impl_->port > 0 && impl_->thread.joinable(); }
int FakeService::port() const { return impl_->port; }
std::string FakeService::base_url() const { return "https://127.0.0.1:" + std::to_string(impl_->port); }
std::string FakeService::cert_path() const { return impl_->cert; }

void FakeService::push(const std::string& path, const FakeResponse& r) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->queues[path].push_back(r);
}

void FakeService::set_default(const std::string& path, const FakeResponse& r) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->defaults[path] = r;
}

void FakeService::set_responder(const std::string& path, std::function<FakeResponse(const std::string& body)> f) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->responders[path] = f;
}

std::vector<FakeRequest> FakeService::requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->requests;
}

size_t FakeService::count(const std::string& path) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    size_t n = 0;
    for (const auto& r : impl_->requests)
        if (r.path == path) ++n;
    return n;
}

void FakeService::clear_requests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->requests.clear();
}

// ---- the bare TLS stand-in ----------------------------------------------------

struct RawTlsService::Impl {
    std::string cert, key;
    SSL_CTX* ctx = nullptr;
    int listener = -1;
    int port = -1;
    std::thread thread;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    std::deque<RawReply> replies;
    std::vector<std::string> lines;

    // Reads the request (headers and any Content-Length body); "" when the
    // client went away first.
    static std::string read_request(SSL* ssl) {
        std::string req;
        char buf[4096];
        size_t body_at = std::string::npos, want = 0;
        while (body_at == std::string::npos || req.size() < body_at + want) {
            const int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0) return std::string();
            req.append(buf, static_cast<size_t>(n));
            if (body_at == std::string::npos && (body_at = req.find("\r\n\r\n")) != std::string::npos) {
                body_at += 4;
                for (size_t at = 0; (at = req.find('\n', at)) != std::string::npos && at < body_at;)
                    if (strncasecmp(req.c_str() + ++at, "content-length:", 15) == 0) want = std::atol(req.c_str() + at + 15);
            }
        }
        return req;
    }

    void serve(int fd) {
        timeval limit{5, 0};  // a client that never speaks must not hold the stand-in
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        const std::string req = SSL_accept(ssl) == 1 ? read_request(ssl) : std::string();
        if (!req.empty()) {
            RawReply r;
            r.bytes = "HTTP/1.1 503 Nothing scripted\r\nContent-Length: 0\r\n\r\n";
            {
                std::lock_guard<std::mutex> lock(mutex);
                lines.push_back(req.substr(0, req.find("\r\n")));
                if (!replies.empty()) {
                    r = replies.front();
                    replies.pop_front();
                }
            }
            SSL_write(ssl, r.bytes.data(), static_cast<int>(r.bytes.size()));
            if (r.tls_close) SSL_shutdown(ssl);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        SSL_free(ssl);
    }
};

RawTlsService::RawTlsService(const std::string& dir) : impl_(new Impl) {
    impl_->cert = dir + "/cert.pem";
    impl_->key = dir + "/key.pem";
    std::string why;
    if (!make_self_signed_cert(impl_->cert, impl_->key, "IP:127.0.0.1,DNS:localhost", &why)) return;
    impl_->ctx = SSL_CTX_new(TLS_server_method());
    if (!impl_->ctx || SSL_CTX_use_certificate_chain_file(impl_->ctx, impl_->cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(impl_->ctx, impl_->key.c_str(), SSL_FILETYPE_PEM) != 1)
        return;
    impl_->listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (impl_->listener < 0 || bind(impl_->listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(impl_->listener, 8) != 0 || getsockname(impl_->listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return;
    impl_->port = ntohs(a.sin_port);
    impl_->thread = std::thread([this] {
        while (!impl_->stop) {
            pollfd p{impl_->listener, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) continue;
            const int fd = accept4(impl_->listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) impl_->serve(fd);
        }
    });
}

RawTlsService::~RawTlsService() {
    impl_->stop = true;
    if (impl_->thread.joinable()) impl_->thread.join();
    if (impl_->listener >= 0) ::close(impl_->listener);
    SSL_CTX_free(impl_->ctx);
}

bool RawTlsService::running() const { return impl_->port > 0 && impl_->thread.joinable(); }
std::string RawTlsService::base_url() const { return "https://127.0.0.1:" + std::to_string(impl_->port); }
std::string RawTlsService::cert_path() const { return impl_->cert; }

void RawTlsService::push(const RawReply& r) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->replies.push_back(r);
}

std::vector<std::string> RawTlsService::request_lines() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->lines;
}

}  // namespace testsupport
