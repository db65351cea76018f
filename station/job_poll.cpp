// Job polling: the job endpoint's reply, the downloads of bracing and slipper
// jobs, the hand-off file and Formlet for insole jobs, and cancellations.
#include "job_poll.h"

#include <cstdio>
#include <ctime>

#include "common/file_util.h"
#include "common/job_name.h"
#include "common/json_util.h"
#include "station/pending_jobs.h"
#include "station/transfer.h"

namespace station {

namespace {

bool has_line_break(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 && c != '\t') return true;
    return false;
}

// Why the mobile cannot name an insole job, empty when it can: Fitmire
// saves "<mobile>_iLeft.bmp" and the path program prints that name, and the
// hand-off file reads the name as one word.
std::string insole_job_name_problem(const std::string& mobile) {
    std::string why;
    if (!common::job_name_usable(mobile, &why)) return why;
    if (mobile.find_first_of(" \t") != std::string::npos) return "it holds white space";
    return "";
}

}  // namespace

JobKind job_kind(const std::string& type) {
    if (!type.empty() && type[0] == 'C') return JobKind::bracing;
    if (type == "b001") return JobKind::slipper;
    return JobKind::insole;
}

bool is_cancel(const std::string& bmpfile) {
    size_t dot = bmpfile.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return false;
    return bmpfile.compare(dot + 1, std::string::npos, "cancel") == 0;
}

std::string cancel_name(const std::string& bmpfile) {
    size_t under = bmpfile.find_last_of('_');
    if (under == std::string::npos || under == 0) return bmpfile;
    std::string name = bmpfile.substr(0, under);
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos && slash >= 1) name = name.substr(slash + 1);
    return name;
}

ReplyVerdict parse_job_reply(const std::string& body, JobReply& out, std::string& problem) {
    using common::JsonLookup;
    common::JsonPtr json = common::parse_json(body);
    if (!json || !cJSON_IsObject(json.get())) {
        problem = "not a JSON object";
        return ReplyVerdict::malformed;
    }
    const cJSON* o = json.get();
    JobReply r;
    auto number = [&](const char* key, int& v) {
        JsonLookup l = common::json_int(o, key, v);
        if (l != JsonLookup::ok && problem.empty()) problem = common::json_lookup_problem(l, key, "number");
        return l == JsonLookup::ok;
    };
    auto text = [&](const char* key, std::string& v) {
        JsonLookup l = common::json_string(o, key, v);
        if (l != JsonLookup::ok && problem.empty()) problem = common::json_lookup_problem(l, key, "text");
        return l == JsonLookup::ok;
    };
    problem.clear();
    if (!number("resultCode", r.result_code)) return ReplyVerdict::malformed;
    // The number 200 itself: 200.5 would pass as 200 once cut to an int.
    if (cJSON_GetObjectItem(o, "resultCode")->valuedouble != 200.0) return ReplyVerdict::not_200;
    if (!number("printid", r.printid)) return ReplyVerdict::malformed;
    // Below a second the endpoint would be asked on every tick, and each
    // answer could start a Fitmire.
    const cJSON* sleep = cJSON_GetObjectItem(o, "sleep");
    if (cJSON_IsNumber(sleep) && sleep->valuedouble >= 1.0) {
        r.sleep = sleep->valueint;
    } else {
        r.sleep = kDefaultSleepSeconds;
        char* shown = sleep ? cJSON_PrintUnformatted(sleep) : nullptr;
        std::string value = shown ? shown : "missing";
        if (value.size() > 40) value = value.substr(0, 40) + "...";
        r.sleep_problem = "\"sleep\" " + value + " is no interval of 1 s or more; " +
                          std::to_string(kDefaultSleepSeconds) + " s used";
        cJSON_free(shown);
    }
    if (r.printid != 0) {
        if (!text("type", r.type) || !text("token", r.token) || !text("sdate", r.sdate) || !text("edate", r.edate) ||
            !text("bmpfile", r.bmpfile) || !text("mobile", r.mobile))
            return ReplyVerdict::malformed;
        r.kind = job_kind(r.type);
        if (r.kind == JobKind::slipper && !text("bmpfile2", r.bmpfile2)) return ReplyVerdict::malformed;
        if (r.kind == JobKind::insole && (!text("left", r.left) || !text("right", r.right)))
            return ReplyVerdict::malformed;
    }
    out = r;
    return ReplyVerdict::accepted;
}

namespace {

// Names past a file name's length are refused here, when the job is planned:
// later they could neither be fetched nor kept.
void refuse_long_names(const JobReply& r, JobPlan& p) {
    std::vector<std::string> names;
    for (const auto& d : p.downloads) names.push_back(d.local_name);
    names.insert(names.end(), p.cancel_files.begin(), p.cancel_files.end());
    for (const std::string& name : names) {
        if (name.size() <= platform::kMaxFileNameBytes) continue;
        p.problems.push_back("\"" + name + "\" is longer than a file name can be (mobile \"" + r.mobile +
                             "\"): job refused");
        p.downloads.clear();
        p.cancel_files.clear();
        return;
    }
}

}  // namespace

JobPlan plan_job(const JobReply& r) {
    JobPlan p;
    std::string name, mobile;
    switch (r.kind) {
    case JobKind::none:
        break;
    case JobKind::bracing:
        if (safe_file_name(r.bmpfile, name)) p.downloads.push_back({r.bmpfile, name});
        else p.problems.push_back("bmpfile \"" + r.bmpfile + "\" is no usable file name");
        break;
    case JobKind::slipper:
        if (!safe_file_name(r.mobile, mobile)) {
            p.problems.push_back("mobile \"" + r.mobile + "\" is no usable file name");
            break;
        }
        p.downloads.push_back({r.bmpfile, mobile + "_iLeft.gcode"});
        p.downloads.push_back({r.bmpfile2, mobile + "_iRight.gcode"});
        break;
    case JobKind::insole:
        if (has_line_break(r.left) || has_line_break(r.right) || has_line_break(r.mobile)) {
            p.problems.push_back("left, right or mobile holds a line break: insole parameters.txt not written");
        } else if (const std::string why = insole_job_name_problem(r.mobile); !why.empty()) {
            p.problems.push_back("mobile \"" + r.mobile + "\" cannot name an insole job (" + why +
                                 "): insole parameters.txt not written");
        } else {
            p.write_handoff = true;
            p.handoff_text = "left " + r.left + "\r\nright " + r.right + " " + r.mobile + "\r\n";
        }
        if (is_cancel(r.bmpfile)) {
            p.cancel = true;
            const std::string order = cancel_name(r.bmpfile);
            if (safe_file_name(r.mobile, mobile) && safe_file_name(order, name)) {
                p.cancel_files.push_back(mobile + "_" + name + "_iLeft.cancel");
                p.cancel_files.push_back(mobile + "_" + name + "_iRight.cancel");
            } else {
                p.problems.push_back("mobile \"" + r.mobile + "\" or order \"" + order +
                                     "\" is no usable file name: no cancel files");
            }
        }
        break;
    }
    refuse_long_names(r, p);
    return p;
}

namespace {

PendingJob download_job(const JobReply& r, const JobPlan& p, const char* done_line) {
    PendingJob job;
    job.printid = r.printid;
    job.done_line = done_line;
    // Left before right: the list keeps the order the files are fetched in.
    for (const auto& d : p.downloads) job.files.push_back({d.file_value, d.local_name, ""});
    return job;
}

void run_bracing(ServerState& s, const JobReply& r, const JobPlan& p) {
    if (p.downloads.empty()) return;
    ensure_folder(s, temp_path());
    run_download_job(s, download_job(r, p, "External Bracing Downloaded ~"));
}

void run_slipper(ServerState& s, const JobReply& r, const JobPlan& p) {
    s.ui->add_log_line("type : b001");
    if (p.downloads.size() < 2) return;
    std::printf("PATHNAME %s\n\n",
                service_address(s, "/Mirel/" + escape_url_path(p.downloads[0].file_value)).c_str());
    ensure_folder(s, temp_path());
    run_download_job(s, download_job(r, p, "Slipper Downloaded ~"));
}

void run_insole(ServerState& s, const JobReply& r, const JobPlan& p) {
    std::printf("left %s\n", r.left.c_str());
    std::printf("right %s\n", r.right.c_str());
    if (p.write_handoff) {
        ensure_folder(s, server_path());
        PendingJob job;
        job.printid = r.printid;
        job.handoff = true;
        job.handoff_text = p.handoff_text;
        job.mobile = r.mobile;
        job.announce = !p.cancel;
        queue_handoff(s, job);
    } else {
        start_formlet(s);  // as before: Formlet starts whether or not there is a hand-off file
    }

    const std::string now = asctime_text();
    std::printf("System Time: %s\n", now.c_str());

    if (p.cancel) {
        if (!p.cancel_files.empty()) ensure_folder(s, files_path());
        for (const std::string& name : p.cancel_files) {
            const std::string path = files_path() + "/" + name;
            FILE* f = std::fopen(path.c_str(), "w");
            if (f) std::fclose(f);
            else std::printf("%s cannot be created\n", path.c_str());
        }
    }
}

}  // namespace

int poll_print_token(ServerState& s) {
    if (!s.config_ok) return 0;
    const std::string body = "{\"orbane\":\"" + std::to_string(s.config.key_number) + "\"}";
    RequestResult res = post_request(s, service_address(s, "/Mirel/getPrintToken.php"), body, true,
                                     s.transfer.request_timeout_ms);
    if (res.response_code == 200) {
        JobReply r;
        std::string problem;
        ReplyVerdict v = parse_job_reply(s.reply, r, problem);
        if (v == ReplyVerdict::not_200) return 0;
        if (v == ReplyVerdict::malformed) {
            std::printf("getPrintToken.php reply dropped: %s\n", problem.c_str());
            finish_request(res);
            return 0;
        }
        s.insole_mode = true;
        s.last_printid = r.printid;
        s.sleep_seconds = r.sleep;
        if (!r.sleep_problem.empty()) s.log(r.sleep_problem);
        if (r.printid != 0) {
            JobPlan p = plan_job(r);
            for (const std::string& line : p.problems) s.log("Job " + std::to_string(r.printid) + ": " + line);
            switch (r.kind) {
            case JobKind::bracing: run_bracing(s, r, p); break;
            case JobKind::slipper: run_slipper(s, r, p); break;
            case JobKind::insole: run_insole(s, r, p); break;
            case JobKind::none: break;
            }
            std::printf("~~~~~~~~ printid == %d ~~~~~~~~~ \n", s.last_printid);
            std::printf("resultCode is %d\n", r.result_code);
            std::printf("token %s\n", r.token.c_str());
            std::printf("sdate %s\n", r.sdate.c_str());
            std::printf("edate %s\n", r.edate.c_str());
            std::printf("sleep %d\n", r.sleep);
            std::printf("printid %d\n", r.printid);
            std::printf("bmpfile %s\n", r.bmpfile.c_str());
            std::printf("mobile %s\n", r.mobile.c_str());
        }
    }
    finish_request(res);
    return static_cast<int>(res.response_code);
}

}  // namespace station
