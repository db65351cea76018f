// Downloads of bracing and slipper jobs that have not arrived yet, kept in
// the server directory so that a short outage or a restart loses no job.
#pragma once

#include <string>
#include <vector>

#include "station/server_state.h"

namespace station {

// The file that holds them: "pending downloads.json" in the server directory.
std::string pending_jobs_path();

// The file's text for these jobs, and the reverse, entry by entry: an entry
// that cannot be used, or repeats an earlier one, is left out with a line in
// set_aside. A text that is no list of jobs at all leaves `out` as it was and
// names its fault in `problem`.
std::string pending_jobs_text(const std::vector<PendingJob>& jobs);
bool parse_pending_jobs(const std::string& text, std::vector<PendingJob>& out, std::string& problem,
                        std::vector<std::string>* set_aside = nullptr);

// Reads the file into s.pending at start. An unreadable file, or one with
// entries set aside, is moved to a free "<file>.unreadable" name with a log
// line; one that cannot be moved is never written over.
void load_pending_jobs(ServerState& s);
// Writes s.pending to the file (removes it when nothing is pending). When it
// cannot, says so in the log, and the file cycles try again.
bool save_pending_jobs(ServerState& s);
// True when the same job (printid and files) is already pending.
bool find_pending(const ServerState& s, const PendingJob& job);

// Fetches the files of the pending job at index one by one (attempts tries
// each); the pending file names each try's temp file before the try starts,
// and loses a file only once it is in place. True when none is left.
bool fetch_job_files(ServerState& s, size_t index, int attempts);
// Runs a new job's downloads; it is pending from its first try on, and what
// does not arrive is kept for later cycles.
void run_download_job(ServerState& s, PendingJob job);
// One file cycle's retry: while online, one try per file of the jobs waiting,
// stopping at the first failure (that job goes to the back of the queue).
void retry_pending_jobs(ServerState& s);

// "C:\VerdanelFiles\Hostlet\insole parameters.txt".
std::string handoff_path();
// A new insole job's hand-off: written at once when no earlier one waits and
// the file is free; otherwise it waits in s.pending (and the pending file),
// with a log line saying why.
void queue_handoff(ServerState& s, const PendingJob& job);
// The file cycle's turn: the first waiting hand-off is written once Fitmire
// has taken the file before it; then Formlet and the announcement follow.
void place_waiting_handoffs(ServerState& s);
// Formlet from the server directory, or a log line that it is missing.
void start_formlet(ServerState& s);
// asctime's text of the local time (ends in a newline).
std::string asctime_text();

}  // namespace station
