// Insole-data request: store an accepted reply as insole_info_type4.txt and
// start Fitmire in the server directory.
#include "insole_data.h"

#include <cstdio>

#include "common/file_util.h"
#include "common/json_util.h"
#include "station/transfer.h"

namespace station {

bool accept_insole_reply(const std::string& body, std::string& problem) {
    problem.clear();
    common::JsonPtr json = common::parse_json(body);
    if (!json || !cJSON_IsObject(json.get())) {
        problem = "not a JSON object";
        return false;
    }
    std::string code;
    common::JsonLookup l = common::json_string(json.get(), "resultCode", code);
    if (l != common::JsonLookup::ok) {
        problem = common::json_lookup_problem(l, "resultCode", "text");
        return false;
    }
    return code == "200";
}

std::string insole_info_text(const std::string& body) {
    std::string out;
    const size_t end = body.find('\0');
    const size_t n = end == std::string::npos ? body.size() : end;
    out.reserve(n + n / 16);
    for (size_t i = 0; i < n; ++i) {
        if (body[i] == '\n') out += '\r';
        out += body[i];
    }
    return out;
}

int fetch_insole_data(ServerState& s) {
    if (!s.config_ok) return 0;
    const std::string body = "{\"orbane\":\"" + std::to_string(s.config.key_number) + "\"}";
    RequestResult res = post_request(s, service_address(s, "/Mirel/servlet/getOrbaneInsole.php"), body, true,
                                     s.transfer.request_timeout_ms);
    std::printf("ORIGIN : %s\n", s.reply.c_str());
    if (res.response_code == 200) {
        std::string problem;
        if (accept_insole_reply(s.reply, problem)) {
            // Fitmire saves its images in C:\insole.
            ensure_folder(s, server_path());
            ensure_folder(s, insole_path());
            const std::string info = server_path() + "/insole_info_type4.txt";
            if (!common::write_file_atomic(info, insole_info_text(s.reply)))
                std::printf("%s cannot be written\n", info.c_str());
            const std::string fitmire = server_path() + "/Fitmire";
            // One Fitmire at a time: a service answering every second must
            // not fill the station with them.
            if (s.hooks.program_running(fitmire) || s.hooks.find_window("Fitmire")) {
                const std::string line = "Fitmire is still running: no second one started";
                if (s.fitmire_refused_told) std::printf("%s\n", line.c_str());
                else s.log(line);
                s.fitmire_refused_told = true;
            } else {
                s.fitmire_refused_told = false;
                platform::change_dir(server_path());
                s.hooks.start_program(fitmire);
            }
        } else if (!problem.empty()) {
            std::printf("getOrbaneInsole.php reply dropped: %s\n", problem.c_str());
        }
    }
    finish_request(res);
    return static_cast<int>(res.response_code);
}

}  // namespace station
