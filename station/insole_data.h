// The insole-data request of the server's insole-data mode.
#pragma once

#include <string>

#include "station/server_state.h"

namespace station {

// True when the reply is a JSON object whose "resultCode" is the text "200";
// otherwise `problem` says why (empty for a well-formed refusal).
bool accept_insole_reply(const std::string& body, std::string& problem);
// The stored form of a reply: up to its first NUL, line ends made CR LF.
std::string insole_info_text(const std::string& body);

// One call of the insole-data endpoint; returns the HTTP response code.
int fetch_insole_data(ServerState& s);

}  // namespace station
