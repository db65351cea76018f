// Pending downloads: their file in the server directory, and the retries of
// the file cycle.
#include "pending_jobs.h"

#include <cstdio>

#include "common/file_util.h"
#include "common/json_util.h"
#include "station/transfer.h"

namespace station {

std::string pending_jobs_path() { return server_path() + "/pending downloads.json"; }

std::string pending_jobs_text(const std::vector<PendingJob>& jobs) {
    // cJSON writes bytes above 0x7F as they are and reads them back so: a
    // file value comes back byte for byte, whatever its encoding.
    common::JsonPtr root(cJSON_CreateObject());
    cJSON* list = cJSON_AddArrayToObject(root.get(), "jobs");
    for (const PendingJob& j : jobs) {
        cJSON* job = cJSON_CreateObject();
        cJSON_AddItemToArray(list, job);
        cJSON_AddNumberToObject(job, "printid", j.printid);
        cJSON_AddStringToObject(job, "done", j.done_line.c_str());
        cJSON* files = cJSON_AddArrayToObject(job, "files");
        for (const PendingDownload& d : j.files) {
            cJSON* f = cJSON_CreateObject();
            cJSON_AddItemToArray(files, f);
            cJSON_AddStringToObject(f, "value", d.file_value.c_str());
            cJSON_AddStringToObject(f, "name", d.local_name.c_str());
        }
    }
    char* printed = cJSON_Print(root.get());
    if (!printed) return std::string();
    std::string text = printed;
    cJSON_free(printed);
    return text + "\n";
}

namespace {

bool same_job(const PendingJob& a, const PendingJob& b) {
    if (a.printid != b.printid || a.files.size() != b.files.size()) return false;
    for (size_t i = 0; i < a.files.size(); ++i)
        if (a.files[i].file_value != b.files[i].file_value || a.files[i].local_name != b.files[i].local_name)
            return false;
    return true;
}

// One entry of the "jobs" list, or false with what is wrong with it.
bool parse_entry(const cJSON* j, PendingJob& job, std::string& problem) {
    using common::JsonLookup;
    const cJSON* files = cJSON_IsObject(j) ? cJSON_GetObjectItemCaseSensitive(j, "files") : nullptr;
    if (!cJSON_IsArray(files) || common::json_int(j, "printid", job.printid) != JsonLookup::ok ||
        common::json_string(j, "done", job.done_line) != JsonLookup::ok) {
        problem = "printid, done or files missing";
        return false;
    }
    for (const cJSON* f = files->child; f; f = f->next) {
        PendingDownload d;
        std::string safe;
        if (!cJSON_IsObject(f) || common::json_string(f, "value", d.file_value) != JsonLookup::ok ||
            common::json_string(f, "name", d.local_name) != JsonLookup::ok) {
            problem = "a file without value or name";
            return false;
        }
        // The name is joined to the station's folders: it must stay a bare
        // name that a file can have.
        if (!safe_file_name(d.local_name, safe) || safe != d.local_name) {
            problem = "\"" + d.local_name + "\" is no usable file name";
            return false;
        }
        job.files.push_back(d);
    }
    return true;
}

}  // namespace

bool find_pending(const ServerState& s, const PendingJob& job) {
    // A pending job may have fetched some of its files already: what is
    // left of it is part of the job sent again.
    for (const PendingJob& p : s.pending) {
        if (p.printid != job.printid) continue;
        bool part = true;
        for (const PendingDownload& d : p.files) {
            bool found = false;
            for (const PendingDownload& e : job.files)
                found = found || (d.file_value == e.file_value && d.local_name == e.local_name);
            part = part && found;
        }
        if (part) return true;
    }
    return false;
}

bool parse_pending_jobs(const std::string& text, std::vector<PendingJob>& out, std::string& problem,
                        std::vector<std::string>* set_aside) {
    common::JsonPtr json = common::parse_json(text);
    if (!json || !cJSON_IsObject(json.get())) {
        problem = "not a JSON object";
        return false;
    }
    const cJSON* jobs = cJSON_GetObjectItemCaseSensitive(json.get(), "jobs");
    if (!cJSON_IsArray(jobs)) {
        problem = "no \"jobs\" list";
        return false;
    }
    // Entry by entry: one that cannot be used must not cost the others.
    std::vector<PendingJob> result;
    int index = 0;
    for (const cJSON* j = jobs->child; j; j = j->next) {
        ++index;
        PendingJob job;
        std::string why;
        if (!parse_entry(j, job, why)) {
            if (set_aside) set_aside->push_back("job " + std::to_string(index) + ": " + why);
            continue;
        }
        bool twice = false;
        for (const PendingJob& earlier : result) twice = twice || same_job(earlier, job);
        if (twice) {
            if (set_aside) set_aside->push_back("job " + std::to_string(index) + ": the same job again");
            continue;
        }
        if (!job.files.empty()) result.push_back(job);
    }
    out = result;
    return true;
}

namespace {

// Moves the pending file to a free "<file>.unreadable" name; false when it
// cannot, and then it must not be written over either.
bool move_pending_file_aside(ServerState& s, const std::string& why) {
    const std::string path = pending_jobs_path();
    std::string aside;
    if (platform::move_to_free_name(path, path + ".unreadable", 1, aside, s.hooks.move) ==
        platform::MoveResult::moved) {
        s.log("pending downloads.json: " + why + "; moved aside to " + aside);
        s.pending_file_blocked = false;
        return true;
    }
    s.log("pending downloads.json: " + why + "; cannot be moved aside, left as it is");
    s.pending_file_blocked = true;
    return false;
}

}  // namespace

void load_pending_jobs(ServerState& s) {
    s.pending.clear();
    s.pending_file_blocked = false;
    s.pending_unsaved = false;
    const std::string path = pending_jobs_path();
    if (!common::file_exists(path)) return;
    std::string text, problem;
    std::vector<std::string> set_aside;
    if (!common::read_file(path, text)) {
        move_pending_file_aside(s, "cannot be read");
        return;
    }
    if (!parse_pending_jobs(text, s.pending, problem, &set_aside)) {
        move_pending_file_aside(s, problem);
        return;
    }
    if (!s.pending.empty())
        s.log(std::to_string(s.pending.size()) + " job(s) with downloads still to come, from pending downloads.json");
    if (set_aside.empty()) return;
    for (const std::string& line : set_aside) s.log("pending downloads.json: " + line + ": set aside");
    // The file as it was keeps the entries set aside; the jobs kept are
    // written anew once it is out of the way.
    if (move_pending_file_aside(s, std::to_string(set_aside.size()) + " job(s) set aside")) save_pending_jobs(s);
    else s.pending_unsaved = true;
}

bool save_pending_jobs(ServerState& s) {
    const std::string path = pending_jobs_path();
    s.pending_unsaved = true;
    const std::string kept = std::to_string(s.pending.size()) + " job(s) kept in memory, written again at the next file cycle";
    if (s.pending_file_blocked && !move_pending_file_aside(s, "still in the way")) {
        s.log("pending downloads.json cannot be written: " + kept);
        return false;
    }
    if (s.pending.empty()) {
        std::remove(path.c_str());
        s.pending_unsaved = common::file_exists(path);
        return !s.pending_unsaved;
    }
    if (!common::write_file_atomic(path, pending_jobs_text(s.pending))) {
        s.log("pending downloads.json cannot be written: " + kept);
        return false;
    }
    s.pending_unsaved = false;
    return true;
}

bool fetch_job_files(ServerState& s, PendingJob& job, int attempts) {
    // In their order, each complete before the next is asked for (a
    // slipper's left file before its right one).
    while (!job.files.empty()) {
        const PendingDownload& d = job.files.front();
        if (download_into_place(s, d.file_value, d.local_name, attempts) == Placement::failed) return false;
        job.files.erase(job.files.begin());
    }
    return true;
}

void run_download_job(ServerState& s, PendingJob job) {
    if (find_pending(s, job)) {
        // Sent again (after a restart, say): the file cycles fetch it.
        s.log("Job " + std::to_string(job.printid) + " is already waiting for its downloads");
        return;
    }
    if (fetch_job_files(s, job, s.transfer.download_attempts)) {
        s.ui->add_log_line(job.done_line);
        s.ui->select_last_line();
        return;
    }
    for (const PendingDownload& d : job.files)
        s.log("Download failed: " + d.file_value + " (tried again on later file cycles)");
    s.pending.push_back(job);
    save_pending_jobs(s);
}

void retry_pending_jobs(ServerState& s) {
    if (s.pending.empty() || !s.online || !s.config_ok) {
        if (s.pending_unsaved) save_pending_jobs(s);  // a write that failed before is tried again
        return;
    }
    // One try per file; the first failure ends this cycle's retries, so an
    // unreachable service costs one bounded attempt per cycle, and the job
    // that failed waits behind the others.
    const size_t jobs = s.pending.size();
    for (size_t n = 0; n < jobs && !s.pending.empty(); ++n) {
        PendingJob job = s.pending.front();
        s.pending.erase(s.pending.begin());
        if (fetch_job_files(s, job, 1)) {
            s.ui->add_log_line(job.done_line);
            s.ui->select_last_line();
            continue;
        }
        s.pending.push_back(job);
        std::printf("downloads of job %d still to come: %zu\n", job.printid, job.files.size());
        std::fflush(stdout);
        break;
    }
    save_pending_jobs(s);
}

}  // namespace station
