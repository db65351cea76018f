// The server's ways onto the network: a JSON POST to the web service, a file
// download, and the internet check.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "station/server_state.h"

namespace station {

struct RequestResult {
    long response_code = 0;  // 0: no response arrived
    int curl_result = 0;     // CURLcode of the transfer
};

// POSTs body to url; with collect the reply lands in s.reply (emptied
// first); the whole request ends within timeout_ms.
RequestResult post_request(ServerState& s, const std::string& url, const std::string& body, bool collect,
                           long timeout_ms);
// The request's closing console lines: the response code, "Error" on a
// transport failure.
void finish_request(const RequestResult& r);

// libcurl write callback appending to the std::string at target.
size_t append_reply(char* data, size_t size, size_t count, void* target);

// One attempt to fetch url into path; true only for a whole, non-empty 2xx
// body (its length reached, its last chunk read, or, for a body that ends
// with the connection, the server's TLS close received), stored as the
// content it carries (a content encoding undone, one that cannot be undone
// refused). On failure nothing is left at path; timed_out says whether a
// time limit (the stall limit or the whole download's) or a stop request
// ended it. While it runs, the file cycle's other work goes on
// (s.busy_file_cycle).
bool download_file(ServerState& s, const std::string& url, const std::string& path, bool* timed_out = nullptr);

// Whether a download's answer marks the end of its body (a length, or
// chunks), after one more header line of n bytes; a status line starts a new
// answer.
bool body_framed_after(bool framed, const char* line, size_t n);

enum class Placement {
    placed,        // under its final name
    left_in_temp,  // fetched, but its final name was taken (or the move failed): it stays in temp/
    failed,        // not fetched
};
// Downloads "/Mirel/<file_value>" into the temp folder, trying up to
// `attempts` times (a try ended by a time limit is not repeated at once), and
// moves it to C:\VerdanelFiles\<local_name>. No file is ever replaced: a
// taken temp name makes the download take a numbered one, and a taken final
// name leaves it in temp/ under a numbered name.
// before_try hears each try's temp file once it exists, before the
// transfer, and "" once the file is whole, before it is moved.
Placement download_into_place(ServerState& s, const std::string& file_value, const std::string& local_name,
                              int attempts, const std::function<void(const std::string&)>& before_try = nullptr);

// Updates s.online and the status label; true when online.
bool check_internet(ServerState& s);

// service_url + path.
std::string service_address(const ServerState& s, const std::string& path);
// A reply's file value as a URL path: spaces, controls, bytes above 0x7E and
// a '%' that starts no %XX percent-encoded, everything else as it stands.
std::string escape_url_path(const std::string& value);

}  // namespace station
