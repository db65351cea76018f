// Pending downloads: their file in the server directory, and the retries of
// the file cycle.
#include "pending_jobs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

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
            if (!d.partial.empty()) cJSON_AddStringToObject(f, "partial", d.partial.c_str());
        }
        if (j.handoff) {
            cJSON* h = cJSON_AddObjectToObject(job, "handoff");
            cJSON_AddStringToObject(h, "text", j.handoff_text.c_str());
            cJSON_AddStringToObject(h, "mobile", j.mobile.c_str());
            cJSON_AddBoolToObject(h, "announce", j.announce);
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
    if (a.printid != b.printid || a.files.size() != b.files.size() || a.handoff != b.handoff ||
        a.handoff_text != b.handoff_text)
        return false;
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
        // A try's temp file, from before a stop: a bare name in temp/ too.
        if (common::json_string(f, "partial", d.partial) == JsonLookup::ok &&
            (!safe_file_name(d.partial, safe) || safe != d.partial)) {
            problem = "\"" + d.partial + "\" is no usable file name";
            return false;
        }
        job.files.push_back(d);
    }
    const cJSON* h = cJSON_GetObjectItemCaseSensitive(j, "handoff");
    if (h) {
        job.handoff = true;
        if (!cJSON_IsObject(h) || common::json_string(h, "text", job.handoff_text) != JsonLookup::ok ||
            common::json_string(h, "mobile", job.mobile) != JsonLookup::ok ||
            !cJSON_IsBool(cJSON_GetObjectItemCaseSensitive(h, "announce")) || !job.files.empty()) {
            problem = "a hand-off without text, mobile or announce";
            return false;
        }
        job.announce = cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(h, "announce"));
    }
    return true;
}

}  // namespace

bool find_pending(const ServerState& s, const PendingJob& job) {
    // A pending job may have fetched some of its files already: what is
    // left of it is part of the job sent again.
    for (const PendingJob& p : s.pending) {
        if (p.printid != job.printid || p.handoff != job.handoff || p.handoff_text != job.handoff_text) continue;
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
        if (!job.files.empty() || job.handoff) result.push_back(job);
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
        s.log(std::to_string(s.pending.size()) + " job(s) still to come, from pending downloads.json");
    // A try cut short by a stop left half a file in temp/: fetched anew. Only
    // the name the try had is touched; files kept in temp/ stay.
    bool cleared = false;
    for (PendingJob& job : s.pending)
        for (PendingDownload& d : job.files) {
            if (d.partial.empty()) continue;
            const std::string half = temp_path() + "/" + d.partial;
            struct stat st;
            if (lstat(half.c_str(), &st) == 0 && S_ISREG(st.st_mode) && unlink(half.c_str()) == 0)
                s.log("Half download from before the stop cleared: " + half);
            d.partial.clear();
            cleared = true;
        }
    if (set_aside.empty()) {
        if (cleared) save_pending_jobs(s);
        return;
    }
    for (const std::string& line : set_aside) s.log("pending downloads.json: " + line + ": set aside");
    // The file as it was keeps the entries set aside; the jobs kept are
    // written anew once it is out of the way.
    if (move_pending_file_aside(s, std::to_string(set_aside.size()) + " job(s) set aside")) save_pending_jobs(s);
    else s.pending_unsaved = true;
}

bool save_pending_jobs(ServerState& s) {
    const std::string path = pending_jobs_path();
    s.pending_unsaved = true;
    // The log list hears of a run of failed writes once, the console every time.
    auto cannot = [&] {
        const std::string line =
            s.pending.empty() ? "pending downloads.json cannot be removed: tried again at the next file cycle"
                              : "pending downloads.json cannot be written: " + std::to_string(s.pending.size()) +
                                    " job(s) kept in memory, written again at the next file cycle";
        if (s.pending_unsaved_told) std::printf("%s\n", line.c_str());
        else s.log(line);
        s.pending_unsaved_told = true;
        return false;
    };
    if (s.pending_file_blocked && !move_pending_file_aside(s, "still in the way")) return cannot();
    if (s.pending.empty()) {
        // Gone only when seen gone: with the server directory away for a
        // while (moved, a share dropped) the file is not there to remove, and
        // it would bring its finished jobs back at the next start.
        struct stat dir;
        const bool removed = std::remove(path.c_str()) == 0 ||
                             (errno == ENOENT && stat(server_path().c_str(), &dir) == 0 && S_ISDIR(dir.st_mode));
        if (!removed) return cannot();
    } else if (!common::write_file_atomic(path, pending_jobs_text(s.pending))) {
        return cannot();
    }
    s.pending_unsaved = false;
    s.pending_unsaved_told = false;
    return true;
}

bool fetch_job_files(ServerState& s, size_t index, int attempts) {
    // In their order, each complete before the next is asked for (a
    // slipper's left file before its right one). The job stays in s.pending
    // throughout, so the pending file always holds what is still to come.
    while (!s.pending[index].files.empty()) {
        const PendingDownload d = s.pending[index].files.front();
        auto before_try = [&](const std::string& temp_file) {
            s.pending[index].files.front().partial =
                temp_file.empty() ? std::string() : temp_file.substr(temp_file.find_last_of('/') + 1);
            save_pending_jobs(s);
        };
        const Placement placed = download_into_place(s, d.file_value, d.local_name, attempts, before_try);
        s.pending[index].files.front().partial.clear();
        if (placed == Placement::failed) {
            save_pending_jobs(s);
            return false;
        }
        s.pending[index].files.erase(s.pending[index].files.begin());
        save_pending_jobs(s);
    }
    return true;
}

void run_download_job(ServerState& s, PendingJob job) {
    if (find_pending(s, job)) {
        // Sent again (after a restart, say): the file cycles fetch it.
        s.log("Job " + std::to_string(job.printid) + " is already waiting for its downloads");
        return;
    }
    s.pending.push_back(job);
    const size_t index = s.pending.size() - 1;
    if (fetch_job_files(s, index, s.transfer.download_attempts)) {
        s.pending.erase(s.pending.begin() + static_cast<long>(index));
        save_pending_jobs(s);
        s.ui->add_log_line(job.done_line);
        s.ui->select_last_line();
        return;
    }
    for (const PendingDownload& d : s.pending[index].files)
        s.log("Download failed: " + d.file_value + " (tried again on later file cycles)");
}

void retry_pending_jobs(ServerState& s) {
    size_t downloads = 0;
    for (const PendingJob& j : s.pending) downloads += !j.handoff;
    if (downloads == 0 || !s.online || !s.config_ok || platform::stop_requested()) {
        if (s.pending_unsaved) save_pending_jobs(s);  // a write that failed before is tried again
        return;
    }
    // One try per file; the first failure ends this cycle's retries, so an
    // unreachable service costs one bounded attempt per cycle, and the job
    // that failed waits behind the others. Hand-offs keep their places.
    for (size_t n = 0; n < downloads; ++n) {
        size_t index = 0;
        while (index < s.pending.size() && s.pending[index].handoff) ++index;
        if (index == s.pending.size()) break;
        // The job tried goes last, where it stays when it fails.
        const PendingJob job = s.pending[index];
        s.pending.erase(s.pending.begin() + static_cast<long>(index));
        s.pending.push_back(job);
        index = s.pending.size() - 1;
        if (fetch_job_files(s, index, 1)) {
            s.pending.erase(s.pending.begin() + static_cast<long>(index));
            s.ui->add_log_line(job.done_line);
            s.ui->select_last_line();
            continue;
        }
        std::printf("downloads of job %d still to come: %zu\n", job.printid, s.pending[index].files.size());
        std::fflush(stdout);
        break;
    }
    save_pending_jobs(s);
}

// ---- insole hand-offs ---------------------------------------------------------

std::string handoff_path() { return server_path() + "/insole parameters.txt"; }

std::string asctime_text() {
    std::tm t = platform::local_time();
    char buf[64];
    if (!asctime_r(&t, buf)) return "\n";
    return buf;
}

void start_formlet(ServerState& s) {
    const std::string formlet = server_path() + "/Formlet";
    if (common::file_exists(formlet)) s.hooks.start_program(formlet);
    else s.log("Formlet missing: " + formlet);
}

namespace {

enum class HandoffResult { written, waiting, failed };

// Never over a hand-off file Fitmire has not taken yet: written beside it,
// then moved onto the name only while that is free.
HandoffResult write_handoff(ServerState& s, const PendingJob& job) {
    const std::string path = handoff_path();
    const std::string tmp = path + ".new";
    if (common::file_exists(path)) return HandoffResult::waiting;
    FILE* f = std::fopen(tmp.c_str(), "wb");
    bool ok = f && std::fwrite(job.handoff_text.data(), 1, job.handoff_text.size(), f) == job.handoff_text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(tmp.c_str());
        return HandoffResult::failed;
    }
    const platform::MoveResult m = s.hooks.move(tmp, path);
    if (m == platform::MoveResult::moved) return HandoffResult::written;
    std::remove(tmp.c_str());
    return m == platform::MoveResult::target_exists ? HandoffResult::waiting : HandoffResult::failed;
}

void announce(ServerState& s, const PendingJob& job) {
    std::string now = asctime_text();
    while (!now.empty() && (now.back() == '\n' || now.back() == '\r')) now.pop_back();
    s.job_count += 1;
    s.ui->add_log_line("NO." + std::to_string(s.job_count) + " ~~~~~~~~~~~~~~~~~~~~ Generating Insoles");
    s.ui->add_log_line("Phone Number : " + job.mobile);
    s.ui->add_log_line("PID " + std::to_string(job.printid));
    s.ui->add_log_line("System Time: " + now);
    s.ui->add_log_line(" ");
    s.ui->select_last_line();
    platform::WindowHandle w = s.hooks.find_window("Strandel");
    if (w) std::printf("Strandel 執行中\n");  // UTF-8: the console's code page here
    if (w && s.hooks.raise_window(w)) std::printf("Set \"Strandel\" to Top\n");
}

// Formlet and the announcement follow a hand-off once it is on disk.
void handed_off(ServerState& s, const PendingJob& job) {
    start_formlet(s);
    if (job.announce) announce(s, job);
}

std::string waiting_line(const PendingJob& job, HandoffResult why) {
    return "Job " + std::to_string(job.printid) + " (" + job.mobile + "): insole parameters.txt " +
           (why == HandoffResult::waiting ? "of an earlier job not yet taken by Fitmire"
                                          : "cannot be written (disk full or read-only?)") +
           "; the job waits, tried again every file cycle";
}

}  // namespace

void queue_handoff(ServerState& s, const PendingJob& job) {
    std::string waiting;
    if (find_pending(s, job) || (common::read_file(handoff_path(), waiting) && waiting == job.handoff_text)) {
        // Sent again: the job is handed off or waiting already.
        s.log("Job " + std::to_string(job.printid) + " is already waiting for its hand-off");
        return;
    }
    bool earlier_waits = false;
    for (const PendingJob& j : s.pending) earlier_waits = earlier_waits || j.handoff;
    const HandoffResult r = earlier_waits ? HandoffResult::waiting : write_handoff(s, job);
    if (r == HandoffResult::written) {
        handed_off(s, job);
        return;
    }
    s.pending.push_back(job);
    save_pending_jobs(s);
    s.log(waiting_line(job, r));
}

void place_waiting_handoffs(ServerState& s) {
    for (size_t i = 0; i < s.pending.size(); ++i) {
        if (!s.pending[i].handoff) continue;
        const PendingJob job = s.pending[i];
        const HandoffResult r = write_handoff(s, job);
        if (r != HandoffResult::written) {
            std::printf("%s\n", waiting_line(job, r).c_str());
            std::fflush(stdout);
            return;  // the first one waiting goes first
        }
        s.pending.erase(s.pending.begin() + static_cast<long>(i));
        save_pending_jobs(s);
        handed_off(s, job);
        return;  // the file is there now: the next one waits for Fitmire
    }
}

}  // namespace station
