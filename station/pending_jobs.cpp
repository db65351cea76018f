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

bool parse_pending_jobs(const std::string& text, std::vector<PendingJob>& out, std::string& problem) {
    using common::JsonLookup;
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
    std::vector<PendingJob> result;
    int index = 0;
    for (const cJSON* j = jobs->child; j; j = j->next, ++index) {
        const std::string where = "job " + std::to_string(index + 1) + ": ";
        PendingJob job;
        const cJSON* files = cJSON_IsObject(j) ? cJSON_GetObjectItemCaseSensitive(j, "files") : nullptr;
        if (!cJSON_IsArray(files) || common::json_int(j, "printid", job.printid) != JsonLookup::ok ||
            common::json_string(j, "done", job.done_line) != JsonLookup::ok) {
            problem = where + "printid, done or files missing";
            return false;
        }
        for (const cJSON* f = files->child; f; f = f->next) {
            PendingDownload d;
            std::string safe;
            if (!cJSON_IsObject(f) || common::json_string(f, "value", d.file_value) != JsonLookup::ok ||
                common::json_string(f, "name", d.local_name) != JsonLookup::ok) {
                problem = where + "a file without value or name";
                return false;
            }
            // The name is joined to the station's folders: it must stay a bare name.
            if (!safe_file_name(d.local_name, safe) || safe != d.local_name) {
                problem = where + "\"" + d.local_name + "\" is no usable file name";
                return false;
            }
            job.files.push_back(d);
        }
        if (!job.files.empty()) result.push_back(job);
    }
    out = result;
    return true;
}

void load_pending_jobs(ServerState& s) {
    s.pending.clear();
    const std::string path = pending_jobs_path();
    if (!common::file_exists(path)) return;
    std::string text, problem;
    if (common::read_file(path, text) && parse_pending_jobs(text, s.pending, problem)) {
        if (!s.pending.empty())
            s.log(std::to_string(s.pending.size()) +
                  " job(s) with downloads still to come, from pending downloads.json");
        return;
    }
    const std::string aside = path + ".unreadable";
    const bool moved = platform::rename_no_replace(path, aside) == platform::MoveResult::moved;
    s.log("pending downloads.json: " + (problem.empty() ? std::string("cannot be read") : problem) +
          (moved ? "; moved aside to " + aside : "; left as it is"));
    // What cannot be moved aside must not be written over either.
    if (!moved) s.pending_file_blocked = true;
}

bool save_pending_jobs(ServerState& s) {
    if (s.pending_file_blocked) return false;
    const std::string path = pending_jobs_path();
    if (s.pending.empty()) {
        std::remove(path.c_str());
        return !common::file_exists(path);
    }
    if (common::write_file_atomic(path, pending_jobs_text(s.pending))) return true;
    s.log("pending downloads.json cannot be written: a restart would forget the downloads still to come");
    return false;
}

bool fetch_job_files(ServerState& s, PendingJob& job, int attempts) {
    std::vector<PendingDownload> left;
    for (const PendingDownload& d : job.files)
        if (download_into_place(s, d.file_value, d.local_name, attempts) == Placement::failed) left.push_back(d);
    job.files = left;
    return left.empty();
}

void run_download_job(ServerState& s, PendingJob job) {
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
    if (s.pending.empty() || !s.online || !s.config_ok) return;
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
