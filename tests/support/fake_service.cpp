// The stand-in web service on cpp-httplib with an OpenSSL-made certificate.
#include "fake_service.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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
        bool found = true;
        {
            std::lock_guard<std::mutex> lock(mutex);
            auto q = queues.find(req.path);
            if (q != queues.end() && !q->second.empty()) {
                r = q->second.front();
                q->second.pop_front();
            } else if (responders.count(req.path)) {
                r = responders[req.path](req.body);
            } else if (defaults.count(req.path)) {
                r = defaults[req.path];
            } else {
                found = false;
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
        if (r.unframed || r.chunked) {
            // Whole: the body, then a TLS close; cut: only the TCP close.
            const std::string body = r.body.substr(0, r.truncate_at);
            const bool whole = r.truncate_at == std::string::npos;
            auto provider = [body, whole](size_t offset, httplib::DataSink& sink) {
                if (offset < body.size()) return sink.write(body.data() + offset, body.size() - offset);
                if (whole) sink.done();
                return whole;
            };
            if (r.chunked) res.set_chunked_content_provider(r.content_type.c_str(), provider);
            else res.set_content_provider(r.content_type.c_str(), provider);
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
    return std::count_if(impl_->requests.begin(), impl_->requests.end(),
                         [&](const FakeRequest& r) { return r.path == path; });
}

void FakeService::clear_requests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->requests.clear();
}

}  // namespace testsupport
