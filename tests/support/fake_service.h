// A stand-in for the station's web service: HTTPS on 127.0.0.1 with a
// certificate made on the spot, answers scripted per path, every request kept.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct FakeResponse {
    int status = 200;
    std::string body;
    std::string content_type = "application/json";
    int delay_ms = 0;                     // wait before answering
    std::string location;                 // Location header (redirects)
    size_t truncate_at = std::string::npos;  // send the full length's header but only this many bytes
    int stall_ms = 0;                     // after the truncated part, wait this long before dropping
    int drip_ms = 0;                      // send the body a byte at a time, this long apart
    std::string content_encoding;         // Content-Encoding header, sent unasked
    bool unframed = false;                // no Content-Length: the body ends with the connection
    bool chunked = false;                 // in chunks; truncate_at then drops the line before the last one
};

inline FakeResponse answer(int status, const std::string& body, int delay_ms = 0) {
    FakeResponse r;
    r.status = status;
    r.body = body;
    r.delay_ms = delay_ms;
    return r;
}

struct FakeRequest {
    std::string method, path, body, content_type;
    std::string target;  // the address as sent, before any %XX is decoded
    int status = 0;    // the status it was answered with
};

class FakeService {
public:
    // Makes cert.pem and key.pem in dir (for cert_names) and starts listening,
    // on the given port when it is not 0 (so a service can come back where it was).
    explicit FakeService(const std::string& dir, const std::string& cert_names = "IP:127.0.0.1,DNS:localhost",
                         int port = 0);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    bool running() const;
    int port() const;
    std::string base_url() const;  // "https://127.0.0.1:<port>"
    std::string cert_path() const;

    // Answered once each, in the order pushed; then the path's default;
    // paths without either answer 404.
    void push(const std::string& path, const FakeResponse& r);
    void set_default(const std::string& path, const FakeResponse& r);
    // Answers the path by what each request's body holds (after pushed answers).
    void set_responder(const std::string& path, std::function<FakeResponse(const std::string& body)> f);

    std::vector<FakeRequest> requests() const;
    size_t count(const std::string& path) const;
    void clear_requests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace testsupport
