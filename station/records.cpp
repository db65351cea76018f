// Output-record upload: record names cut into their parts, the JSON body, and
// the cycle that uploads them and clears the output directory.
#include "records.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>

#include "common/json_util.h"
#include "platform/platform.h"
#include "station/transfer.h"

namespace station {

namespace {

// atoi's reading, saturated instead of undefined on overflow.
int read_number(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long v = 0;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(v);
}

bool accepted(int code) { return code >= 200 && code < 300; }

// An answer that will not change by sending the same record again: a 4xx
// other than a time-out or a request to slow down.
bool refused_for_good(int code) { return code >= 400 && code < 500 && code != 408 && code != 429; }

// Moves a refused record into the refused folder under its own name (a
// number added when that is taken); it stays where it is when it cannot.
void set_aside(ServerState& s, const std::string& path, int code) {
    const std::string dir = refused_records_path();
    mkdir(dir.c_str(), 0777);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::string target;
    const platform::MoveResult m = platform::move_to_free_name(path, dir + "/" + name, 1, target, s.hooks.move);
    if (m == platform::MoveResult::moved)
        s.log("Brace record refused (answer " + std::to_string(code) + "), set aside: " + target);
    else
        s.log("Brace record refused (answer " + std::to_string(code) + ") and cannot be set aside: " + path);
}

bool was_refused_alone(const ServerState& s, const std::string& name) {
    return std::find(s.refused_alone.begin(), s.refused_alone.end(), name) != s.refused_alone.end();
}

void forget_refused_alone(ServerState& s, const std::string& name) {
    s.refused_alone.erase(std::remove(s.refused_alone.begin(), s.refused_alone.end(), name), s.refused_alone.end());
}

}  // namespace

std::string refused_records_path() { return platform::map_path("C:\\VerdanelFiles\\output_refused"); }

int find_gcode_marker(const std::string& name) {
    const long n = static_cast<long>(name.size()) - 7;
    if (n <= 0) return -1;
    for (long i = 0; i < n; ++i)
        if (name.compare(static_cast<size_t>(i), 7, ".gcode.") == 0) return static_cast<int>(i);
    return -1;
}

bool parse_record_name(const std::string& name, BraceRecord& out) {
    const size_t under = name.find('_');
    const size_t dash = name.find('-');
    const int marker = find_gcode_marker(name);
    if (under == std::string::npos || under < 1 || dash == std::string::npos || dash < under || marker < 0 ||
        static_cast<size_t>(marker) < dash)
        return false;
    const size_t m = static_cast<size_t>(marker);
    out.no = read_number(name.substr(1, under - 1));
    out.size = name.substr(under + 1, dash - under - 1);
    out.type = name.substr(dash + 1, m - dash - 1);
    out.timestamp = name.substr(m + 7);
    return true;
}

std::string build_records_body(const std::vector<BraceRecord>& records) {
    std::string body = "{\"arrays\":[";
    for (size_t i = 0; i < records.size(); ++i) {
        const BraceRecord& r = records[i];
        if (i) body += ",";
        body += "{\"type\":\"" + common::json_escape(r.type) + "\",\"no\":\"" + std::to_string(r.no) +
                "\",\"size\":\"" + common::json_escape(r.size) + "\",\"timestamp\":\"" +
                common::json_escape(r.timestamp) + "\"}";
    }
    body += "]}";
    return body;
}

int post_brace_record(ServerState& s, const std::string& body, long timeout_ms) {
    if (!s.config_ok) return 0;
    RequestResult res =
        post_request(s, service_address(s, "/Mirel/servlet/braceRecord.php"), body, false, timeout_ms);
    finish_request(res);
    return static_cast<int>(res.response_code);
}

int upload_brace_records(ServerState& s) {
    const std::string dir = output_path();
    if (!platform::change_dir(dir)) return 0;  // no output directory: nothing to read
    std::vector<std::string> names = platform::find_files(dir, "*");
    mkdir(platform::map_path("C:\\VerdanelFiles\\output_tmp").c_str(), 0777);

    // Records sent already whose files would not go: never sent again, and
    // forgotten once their file has gone after all.
    std::vector<std::string> still_sent;
    for (const std::string& name : s.sent_records)
        if (std::find(names.begin(), names.end(), name) != names.end()) still_sent.push_back(name);
    s.sent_records = still_sent;

    std::vector<BraceRecord> records;
    std::vector<std::string> record_names;
    BraceRecord last;
    std::string last_no;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;  // directories stay
        auto sent = std::find(s.sent_records.begin(), s.sent_records.end(), name);
        if (sent != s.sent_records.end()) {
            // The removal is tried again, quietly; once it is gone, a file
            // of that name is a new record.
            if (unlink(path.c_str()) == 0) s.sent_records.erase(sent);
            continue;
        }
        BraceRecord r;
        const bool is_record = parse_record_name(name, r);
        if (is_record) {
            records.push_back(r);
            record_names.push_back(name);
            last = r;
            last_no = name.substr(1, name.find('_') - 1);
        }
        std::printf("no_s %s\n", last_no.c_str());
        std::printf("size %s\n", last.size.c_str());
        std::printf("type %s\n", last.type.c_str());
        std::printf("timestamp %s\n", last.timestamp.c_str());
        if (!is_record) {
            unlink(path.c_str());
            std::printf("%s\n\n", path.c_str());
        }
    }
    const std::string body = build_records_body(records);
    std::printf("buff3:\n%s\n\n", body.c_str());
    std::fflush(stdout);
    if (records.empty()) return 0;

    // No upload starts once the pass has had its time, so slow answers hold
    // the window for about the pass limit; the rest waits for the next cycle.
    // The upload under way keeps its whole timeout: cut short, it may have
    // been taken by the service all the same, and would go up again.
    const auto pass_end = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.transfer.record_pass_ms);
    auto send = [&](const std::string& b) {
        return std::chrono::steady_clock::now() < pass_end ? post_brace_record(s, b, s.transfer.upload_timeout_ms) : 0;
    };
    size_t taken = 0;
    auto take = [&](size_t i) {
        // Gone as soon as the service has it: a crash a moment later must
        // not send it again.
        const std::string path = dir + "/" + record_names[i];
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            // Left where it is, the next cycle would send it again.
            const std::string keep = platform::map_path("C:\\VerdanelFiles\\output_tmp") + "/" + record_names[i];
            std::string moved_to;
            if (platform::move_to_free_name(path, keep, 1, moved_to, s.hooks.move) == platform::MoveResult::moved) {
                s.log("Brace record sent but cannot be removed, set aside: " + moved_to);
            } else {
                s.sent_records.push_back(record_names[i]);
                s.log("Brace record sent but can be neither removed nor set aside, not sent again: " + path);
            }
        }
        std::printf("%s\n\n", path.c_str());
        forget_refused_alone(s, record_names[i]);
        ++taken;
    };

    // Offline the upload cannot succeed; it would only hold the tick.
    const int code = s.online ? send(body) : 0;
    std::vector<int> codes(records.size(), code);
    if (accepted(code)) {
        for (size_t i = 0; i < records.size(); ++i) take(i);
    } else if (refused_for_good(code) && records.size() > 1) {
        // A batch refused for good may hold one record the service will never
        // take, or the service refuses everything for now (maintenance, a key
        // being renewed): each record goes alone to tell which. Records
        // refused alone before go last, so they cannot starve the others.
        std::vector<size_t> order;
        for (int refused_before = 0; refused_before < 2; ++refused_before)
            for (size_t i = 0; i < records.size(); ++i)
                if (was_refused_alone(s, record_names[i]) == (refused_before == 1)) order.push_back(i);
        for (size_t k = 0; k < order.size(); ++k) {
            const size_t i = order[k];
            codes[i] = send(build_records_body({records[i]}));
            if (accepted(codes[i])) take(i);
            if (!accepted(codes[i]) && !refused_for_good(codes[i])) {
                for (size_t rest = k + 1; rest < order.size(); ++rest) codes[order[rest]] = codes[i];
                break;  // the service is failing now, or the pass is over: the rest wait for the next cycle
            }
        }
    }
    // Refused alone while the service took others: that record is at fault.
    // Refused with every other one: the service is, and all of them wait.
    size_t kept = 0;
    int kept_code = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (accepted(codes[i])) continue;
        if (refused_for_good(codes[i]) && records.size() > 1) {
            if (taken > 0) {
                set_aside(s, dir + "/" + record_names[i], codes[i]);
                forget_refused_alone(s, record_names[i]);
                continue;
            }
            if (!was_refused_alone(s, record_names[i])) s.refused_alone.push_back(record_names[i]);
        }
        ++kept;
        kept_code = codes[i];
    }
    if (taken) s.ui->add_log_line("Brace Data Uploading !");
    if (kept) {
        const std::string line = "Brace records kept for the next cycle: " +
                                 (s.online ? "upload answered " + std::to_string(kept_code) : std::string("offline"));
        // The log list hears of it once per run of failures, the console every time.
        if (s.upload_failing) std::printf("%s\n", line.c_str());
        else s.log(line);
    }
    s.upload_failing = kept > 0;
    return static_cast<int>(records.size());
}

}  // namespace station
