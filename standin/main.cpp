// standin_service: the stand-in web service as a program for the demo and
// for hand runs: HTTPS on 127.0.0.1 with a certificate made at start,
// replies scripted per path from a file, every request logged.
//
// Usage: standin_service DIR SCRIPT [--port N] [--seconds S]
// DIR receives cert.pem, key.pem, port (written once listening) and
// requests.log (one line per request: method, path, body). SCRIPT lines:
//   push    PATH STATUS [delay=MS] [truncate=N] [stall=MS] [drip=MS] [encoding=NAME]
//           [type=CONTENT-TYPE] body=TEXT
// (drip: the body a byte at a time, MS apart; encoding: a Content-Encoding
// header sent unasked, the body as it stands)
//   default PATH STATUS [...] body=TEXT      (or body@FILE for a file's bytes)
// "push" answers once, in order; then the path's "default"; else 404.
// The program ends on SIGTERM or SIGINT, or after S seconds (default 900).
#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/fake_service.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

bool read_all(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

// One script line into its verb, path and reply; false with the reason.
bool parse_line(const std::string& line, std::string& verb, std::string& path, testsupport::FakeResponse& r,
                std::string& why) {
    std::istringstream in(line);
    std::string status;
    if (!(in >> verb >> path >> status)) {
        why = "expected: push|default PATH STATUS ...";
        return false;
    }
    if (verb != "push" && verb != "default") {
        why = "unknown verb \"" + verb + "\"";
        return false;
    }
    char* end = nullptr;
    const long code = std::strtol(status.c_str(), &end, 10);
    if (*end || code < 100 || code > 599) {
        why = "status \"" + status + "\" is not an HTTP status";
        return false;
    }
    r.status = static_cast<int>(code);
    std::string word;
    while (in >> word) {
        if (word.rfind("body=", 0) == 0 || word.rfind("body@", 0) == 0) {
            // The body is the rest of the line, spaces and all.
            std::string rest;
            std::getline(in, rest);
            std::string value = word.substr(5) + rest;
            if (word[4] == '=') {
                r.body = value;
            } else if (!read_all(value, r.body)) {
                why = "body file \"" + value + "\" cannot be read";
                return false;
            }
            return true;
        }
        const size_t eq = word.find('=');
        const std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
        if (key == "delay") r.delay_ms = std::atoi(value.c_str());
        else if (key == "truncate") r.truncate_at = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "stall") r.stall_ms = std::atoi(value.c_str());
        else if (key == "drip") r.drip_ms = std::atoi(value.c_str());
        else if (key == "encoding") r.content_encoding = value;
        else if (key == "type") r.content_type = value;
        else {
            why = "unknown option \"" + word + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR SCRIPT [--port N] [--seconds S]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1], script = argv[2];
    int port = 0;
    long seconds = 900;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--port") port = std::atoi(argv[i + 1]);
        else if (opt == "--seconds") seconds = std::atol(argv[i + 1]);
        else {
            std::fprintf(stderr, "standin_service: unknown option %s\n", opt.c_str());
            return 2;
        }
    }
    std::string text;
    if (!read_all(script, text)) {
        std::fprintf(stderr, "standin_service: cannot read script %s\n", script.c_str());
        return 2;
    }
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    std::signal(SIGPIPE, SIG_IGN);

    testsupport::FakeService svc(dir, "IP:127.0.0.1,DNS:localhost", port);
    if (!svc.running()) {
        std::fprintf(stderr, "standin_service: cannot listen on 127.0.0.1%s\n",
                     port ? (":" + std::to_string(port)).c_str() : "");
        return 1;
    }
    std::istringstream lines(text);
    std::string line;
    int line_no = 0;
    while (std::getline(lines, line)) {
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        std::string verb, path, why;
        testsupport::FakeResponse r;
        if (!parse_line(line, verb, path, r, why)) {
            std::fprintf(stderr, "standin_service: %s line %d: %s\n", script.c_str(), line_no, why.c_str());
            return 2;
        }
        if (verb == "push") svc.push(path, r);
        else svc.set_default(path, r);
    }
    {
        std::ofstream(dir + "/port.tmp") << svc.port() << "\n";
        std::rename((dir + "/port.tmp").c_str(), (dir + "/port").c_str());
    }
    std::printf("standin_service: %s (certificate %s)\n", svc.base_url().c_str(), svc.cert_path().c_str());
    std::fflush(stdout);

    std::ofstream log(dir + "/requests.log", std::ios::app);
    size_t logged = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!g_stop && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto requests = svc.requests();
        for (; logged < requests.size(); ++logged) {
            const auto& q = requests[logged];
            log << q.method << " " << q.path << " " << q.body << "\n";
        }
        log.flush();
    }
    std::printf("standin_service: %zu requests answered\n", logged);
    return 0;
}
