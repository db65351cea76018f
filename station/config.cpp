// Reading station.conf: lines "key = value", '#' comments, blank lines.
#include "config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <set>

#include <unistd.h>

#include "common/file_util.h"

namespace station {

namespace {

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool has_space_or_control(const std::string& s) {
    for (unsigned char c : s)
        if (c <= 0x20 || c == 0x7f) return true;
    return false;
}

// "scheme://host[:port]" followed by the rest; false when host or port is bad.
bool split_url(const std::string& url, const std::string& scheme, std::string& rest_after_authority) {
    const std::string prefix = scheme + "://";
    if (url.compare(0, prefix.size(), prefix) != 0) return false;
    std::string rest = url.substr(prefix.size());
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    rest_after_authority = slash == std::string::npos ? std::string() : rest.substr(slash);
    if (authority.empty() || authority.find('@') != std::string::npos) return false;
    std::string host = authority, port;
    if (authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos || close == 1) return false;
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return false;
            port = authority.substr(close + 2);
            if (port.empty()) return false;
        }
    } else {
        size_t colon = authority.find(':');
        if (colon != std::string::npos) {
            host = authority.substr(0, colon);
            port = authority.substr(colon + 1);
            if (port.empty()) return false;
        }
    }
    if (host.empty()) return false;
    if (!port.empty()) {
        if (port.size() > 5) return false;
        for (char c : port)
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        long p = std::strtol(port.c_str(), nullptr, 10);
        if (p < 1 || p > 65535) return false;
    }
    return true;
}

}  // namespace

bool parse_config(const std::string& text, Config& out, std::string& error, const std::string& base_dir) {
    Config c;
    std::set<std::string> seen;
    // Windows editors save a UTF-8 byte-order mark first; it is no part of the first key.
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int line_no = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++line_no;
        if (line.empty() || line[0] == '#') continue;

        const std::string where = "station.conf line " + std::to_string(line_no);
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = where + ": \"" + line + "\" is not of the form key = value";
            return false;
        }
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        const std::string at = where + ": key '" + key + "': ";
        if (seen.count(key)) {
            error = at + "given twice";
            return false;
        }
        seen.insert(key);
        if (value.empty()) {
            // An empty optional key reads as not given: system certificates,
            // the service itself as the check address.
            if (key == "ca_file" || key == "check_url") continue;
            error = at + "no value";
            return false;
        }
        if (key == "key_number") {
            bool digits = value.size() <= 10;
            for (char ch : value)
                if (!std::isdigit(static_cast<unsigned char>(ch))) digits = false;
            unsigned long long n = digits ? std::strtoull(value.c_str(), nullptr, 10) : 0;
            if (!digits || n > 0xFFFFFFFFull) {
                error = at + "\"" + value + "\" is not a number from 0 to 4294967295";
                return false;
            }
            c.key_number = static_cast<uint32_t>(n);
        } else if (key == "service_url") {
            std::string rest;
            while (value.size() > 8 && value.back() == '/') value.pop_back();
            if (has_space_or_control(value) || !split_url(value, "https", rest) || !rest.empty()) {
                error = at + "\"" + value + "\" is not https://host[:port]";
                return false;
            }
            c.service_url = value;
        } else if (key == "check_url") {
            std::string rest;
            if (has_space_or_control(value) || (!split_url(value, "https", rest) && !split_url(value, "http", rest))) {
                error = at + "\"" + value + "\" is not an http:// or https:// address";
                return false;
            }
            c.check_url = value;
        } else if (key == "ca_file") {
            // The server changes its current directory as it works: a path
            // left relative would name another file after the first cycle.
            if (value[0] != '/') value = base_dir + (base_dir.empty() || base_dir.back() != '/' ? "/" : "") + value;
            if (!common::file_exists(value)) {
                error = at + "certificate file \"" + value + "\" not found";
                return false;
            }
            c.ca_file = value;
        } else if (key == "tls_verify") {
            if (value != "0" && value != "1") {
                error = at + "\"" + value + "\" is neither 0 nor 1";
                return false;
            }
            c.tls_verify = value == "1";
        } else {
            error = at + "unknown key";
            return false;
        }
    }
    for (const char* required : {"key_number", "service_url"}) {
        if (!seen.count(required)) {
            error = std::string("station.conf: key '") + required + "' missing";
            return false;
        }
    }
    if (c.check_url.empty()) c.check_url = c.service_url;
    out = c;
    return true;
}

bool load_config(const std::string& path, Config& out, std::string& error) {
    std::string text;
    if (!common::read_file(path, text)) {
        error = "station.conf: cannot read " + path;
        return false;
    }
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    if (dir.empty() || dir[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) {
            error = "station.conf: cannot tell the directory of " + path;
            return false;
        }
        dir = std::string(cwd) + "/" + dir;
    }
    return parse_config(text, out, error, dir);
}

}  // namespace station
