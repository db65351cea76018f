// The station's own settings, read from "station.conf" in the server
// directory: key number, web-service address, internet-check address, TLS.
#pragma once

#include <cstdint>
#include <string>

namespace station {

struct Config {
    uint32_t key_number = 0;
    std::string service_url;  // "https://host[:port]", no trailing slash
    std::string check_url;    // address of the internet check; service_url when not given
    std::string ca_file;      // certificate file to trust, an absolute path; empty: the system's certificates
    bool tls_verify = true;
};

// Parses the text of a station.conf; on failure `error` names the line and
// key at fault and `out` is left as it was. A relative path in it is taken
// from base_dir (an absolute directory) and stored absolute.
bool parse_config(const std::string& text, Config& out, std::string& error, const std::string& base_dir = "/");
// Reads and parses the file at path, relative paths in it taken from the
// file's own directory; a missing file is an error too.
bool load_config(const std::string& path, Config& out, std::string& error);

}  // namespace station
