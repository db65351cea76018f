// HTTP transfers with libcurl's easy interface, and the internet check.
#include "transfer.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/file_util.h"

namespace station {

namespace {

// A collected reply larger than this is refused rather than held.
constexpr size_t kMaxReplyBytes = 64u << 20;

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

void set_tls(CURL* curl, const ServerState& s) {
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, s.config.tls_verify ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, s.config.tls_verify ? 2L : 0L);
    if (!s.config.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, s.config.ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

// A download's file and how much more of it is accepted: a server that
// never ends its body would otherwise fill the disk.
struct DownloadSink {
    FILE* file;
    size_t room;
    size_t written = 0;
};

size_t write_to_file(char* data, size_t size, size_t count, void* target) {
    DownloadSink* sink = static_cast<DownloadSink*>(target);
    const size_t n = size * count;
    if (n > sink->room) return 0;  // a write error ends the transfer
    sink->room -= n;
    const size_t done = std::fwrite(data, 1, n, sink->file);
    sink->written += done;
    return done;
}

// How the body of the last answer was meant to end. A body with a length or
// in chunks is checked by libcurl; one that runs until the connection closes
// is whole only when the server closed TLS itself (close_notify). libcurl
// over OpenSSL 3 takes a TCP close without it as a normal end, so a cut
// transfer would pass as a short file: the alert is watched for here.
struct BodyEnd {
    bool framed = false;      // Content-Length or chunked
    bool tls_closed = false;  // close_notify arrived on the current connection
};

size_t note_framing(char* data, size_t size, size_t count, void* target) {
    BodyEnd* end = static_cast<BodyEnd*>(target);
    const size_t n = size * count;
    end->framed = body_framed_after(end->framed, data, n);
    return n;
}

void note_tls_message(int write_p, int, int content_type, const void* buf, size_t len, SSL*, void* target) {
    if (!write_p && content_type == SSL3_RT_ALERT && len >= 2 &&
        static_cast<const unsigned char*>(buf)[1] == SSL_AD_CLOSE_NOTIFY)
        static_cast<BodyEnd*>(target)->tls_closed = true;
}

// Runs for each new connection, before its TLS handshake.
CURLcode watch_tls_close(CURL*, void* ssl_ctx, void* target) {
    static_cast<BodyEnd*>(target)->tls_closed = false;
    SSL_CTX_set_msg_callback(static_cast<SSL_CTX*>(ssl_ctx), note_tls_message);
    SSL_CTX_set_msg_callback_arg(static_cast<SSL_CTX*>(ssl_ctx), target);
    return CURLE_OK;
}

// Called by libcurl while a download runs: a stop request ends it, and the
// file cycle's other work is not held up by it.
int download_progress(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    ServerState* s = static_cast<ServerState*>(target);
    if (platform::stop_requested()) return 1;
    if (s->busy_file_cycle) s->busy_file_cycle(*s);
    return platform::stop_requested() ? 1 : 0;
}

}  // namespace

bool body_framed_after(bool framed, const char* line, size_t n) {
    auto is = [&](const char* name) {
        const size_t len = std::strlen(name);
        return n > len && strncasecmp(line, name, len) == 0;
    };
    if (is("HTTP/")) return false;  // a new answer (after a redirect)
    if (is("content-length:")) return true;
    if (!is("transfer-encoding:")) return framed;
    std::string value(line, n);
    for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return value.find("chunked") != std::string::npos;
}

std::string service_address(const ServerState& s, const std::string& path) { return s.config.service_url + path; }

std::string escape_url_path(const std::string& value) {
    static const char hex[] = "0123456789ABCDEF";
    auto is_hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        // The service's file values are addresses already; only what cannot
        // stand in one is encoded, and a %XX there stays as it is.
        const bool lone_percent = c == '%' && !(i + 2 < value.size() && is_hex(value[i + 1]) && is_hex(value[i + 2]));
        if (c <= 0x20 || c >= 0x7F || lone_percent) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

size_t append_reply(char* data, size_t size, size_t count, void* target) {
    std::string* reply = static_cast<std::string*>(target);
    const size_t n = size * count;
    if (n > kMaxReplyBytes || reply->size() > kMaxReplyBytes - n) return 0;
    reply->append(data, n);
    return n;
}

RequestResult post_request(ServerState& s, const std::string& url, const std::string& body, bool collect,
                           long timeout_ms) {
    RequestResult r;
    global_init();
    CURL* curl = curl_easy_init();
    if (!curl) return r;
    s.reply.clear();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // a reply is read as the content it carries
    if (collect) {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append_reply);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &s.reply);
    }
    set_tls(curl, s);
    // A silent server must not hold the station: every request has a deadline.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout_ms > 0 ? timeout_ms : 1L);
    CURLcode rc = curl_easy_perform(curl);
    r.curl_result = rc;
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    r.response_code = code;
    curl_easy_cleanup(curl);
    return r;
}

void finish_request(const RequestResult& r) {
    std::printf("response_code : %ld\n", r.response_code);
    if (r.curl_result != 0)
        std::printf("Error\n%s\n", curl_easy_strerror(static_cast<CURLcode>(r.curl_result)));
    std::fflush(stdout);
}

bool download_file(ServerState& s, const std::string& url, const std::string& path, bool* timed_out) {
    if (timed_out) *timed_out = false;
    global_init();
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::printf("%s cannot be created \n", path.c_str());
        curl_easy_cleanup(curl);
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(s.transfer.max_redirects));
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    DownloadSink sink{f, s.transfer.max_download_bytes};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_to_file);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    BodyEnd end;
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, note_framing);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &end);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, s.transfer.connect_timeout_ms);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, s.transfer.stall_bytes_per_second);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, s.transfer.stall_seconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, s.transfer.download_timeout_ms);
    // The body as it was meant: a gzip or deflate sent unasked is undone,
    // and an encoding libcurl does not know fails the try.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, download_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &s);
    set_tls(curl, s);
    // Without the TLS layer's word a body that ends with its connection is
    // never taken as whole.
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, watch_tls_close);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &end);
    CURLcode rc = curl_easy_perform(curl);
    long code = 0, version = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_getinfo(curl, CURLINFO_HTTP_VERSION, &version);
    curl_easy_cleanup(curl);
    bool closed = std::fclose(f) == 0;
    // HTTP/2 and later end every body with a frame of their own.
    const bool body_ended = end.framed || end.tls_closed || version >= CURL_HTTP_VERSION_2_0;

    bool ok = false;
    if (rc == CURLE_OK && code >= 200 && code < 300 && closed && sink.written > 0 && body_ended) {
        std::printf("%s Downloaded \n", url.c_str());
        ok = true;
    } else if (rc == CURLE_OK && code >= 200 && code < 300 && closed && sink.written == 0) {
        std::printf("%s empty: no file \n", url.c_str());
    } else if (rc == CURLE_OK && code >= 200 && code < 300 && closed) {
        std::printf("%s cut short: the connection ended after %zu bytes without a TLS close \n", url.c_str(),
                    sink.written);
    } else if (rc == CURLE_WRITE_ERROR || (rc == CURLE_OK && !closed)) {
        std::printf("%s CURLE_WRITE_ERROR \n", url.c_str());
    } else if (rc == CURLE_ABORTED_BY_CALLBACK) {
        std::printf("%s stopped: Hostlet is ending \n", url.c_str());
    } else if (rc == CURLE_OK || rc == CURLE_HTTP_RETURNED_ERROR) {
        std::printf("%s HTTP %ld \n", url.c_str(), code);
    } else if (rc == CURLE_PARTIAL_FILE) {
        std::printf("%s cut short after %zu bytes \n", url.c_str(), sink.written);
    } else {
        std::printf("ERROR CODE %d \n", static_cast<int>(rc));
    }
    std::fflush(stdout);
    if (!ok) std::remove(path.c_str());
    if (timed_out) *timed_out = rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_ABORTED_BY_CALLBACK;
    return ok;
}

namespace {

// Creates the first free one of temp/<name>, temp/<name>.2, ... for a
// download, so that it never writes into a file that is already there (one
// kept earlier, or the path program's G-code being written); empty when none
// can be made.
std::string create_temp_file(const std::string& local_name) {
    const std::string base = temp_path() + "/" + local_name;
    for (int n = 1; n <= 100000; ++n) {
        const std::string path = platform::numbered_name(base, n);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST) break;
    }
    std::printf("%s cannot be created \n", base.c_str());
    return std::string();
}

}  // namespace

Placement download_into_place(ServerState& s, const std::string& file_value, const std::string& local_name,
                               int attempts, const std::function<void(const std::string&)>& before_try) {
    const std::string url = service_address(s, "/Mirel/" + escape_url_path(file_value));
    const std::string final_path = files_path() + "/" + local_name;
    if (attempts < 1) attempts = 1;
    std::string temp;
    bool ok = false;
    for (int attempt = 1; attempt <= attempts && !ok; ++attempt) {
        temp = create_temp_file(local_name);
        if (temp.empty()) return Placement::failed;
        if (before_try) before_try(temp);
        bool timed_out = false;
        ok = download_file(s, url, temp, &timed_out);
        // A service that stalls once is no faster a moment later: the file
        // cycles try it again.
        if (ok || timed_out) break;
        if (attempt < attempts) {
            std::printf("download of %s failed (attempt %d of %d), trying again\n", url.c_str(), attempt, attempts);
            if (s.hooks.pause) s.hooks.pause(s.transfer.retry_pause_ms);
        }
    }
    if (!ok) return Placement::failed;
    // Whole now: from here on a stop must not take it for a half file.
    if (before_try) before_try(std::string());
    platform::MoveResult m = s.hooks.move(temp, final_path);
    if (m == platform::MoveResult::moved) return Placement::placed;
    if (m == platform::MoveResult::target_exists) {
        // The file already there may be waiting for the printer: it stays,
        // and the new one waits in temp/ for the operator, under a numbered
        // name that the path program, writing temp/<name>, never takes.
        const std::string base = temp_path() + "/" + local_name;
        std::string kept = temp;
        if (temp == base && platform::move_to_free_name(temp, base, 2, kept, s.hooks.move) != platform::MoveResult::moved)
            kept = temp;
        s.log("Download left in temp/, " + local_name + " exists: " + kept);
        return Placement::left_in_temp;
    }
    s.log("Download could not be moved into place, left in temp/: " + temp);
    return Placement::left_in_temp;
}

bool check_internet(ServerState& s) {
    s.online = s.config_ok && platform::check_connection(s.config.check_url, s.transfer.check_timeout_ms);
    s.ui->set_net_status(s.online);
    return s.online;
}

}  // namespace station
