// Polling the job endpoint: reading its reply, deciding what a job needs,
// and carrying it out.
#pragma once

#include <string>
#include <vector>

#include "station/server_state.h"

namespace station {

enum class JobKind { none, bracing, slipper, insole };

struct JobReply {
    int result_code = 0;
    std::string token, sdate, edate;
    int sleep = 0;             // seconds, at least 1
    std::string sleep_problem;  // why the reply's "sleep" was not taken (kDefaultSleepSeconds instead)
    int printid = 0;
    JobKind kind = JobKind::none;
    std::string type, bmpfile, bmpfile2, mobile, left, right;
};

enum class ReplyVerdict {
    accepted,   // resultCode is the number 200 and every key it needs is there
    not_200,    // a well-formed reply whose resultCode is another number
    malformed,  // not JSON, a key missing or of the wrong type
};

// Reads a job reply; for malformed ones `problem` says what is wrong.
ReplyVerdict parse_job_reply(const std::string& body, JobReply& out, std::string& problem);

// 'C' first: external bracing; exactly "b001": slipper; else insole.
JobKind job_kind(const std::string& type);
// The text after the last '.' (not the first character) is exactly "cancel".
bool is_cancel(const std::string& bmpfile);
// The order name a cancellation is filed under.
std::string cancel_name(const std::string& bmpfile);

// What a job asks of the disk, with names already made safe.
struct JobPlan {
    struct Download {
        std::string file_value;  // as the reply gave it, for the address
        std::string local_name;  // file name in C:\VerdanelFiles
    };
    std::vector<Download> downloads;
    bool write_handoff = false;
    std::string handoff_text;  // "insole parameters.txt", CR LF line ends
    bool cancel = false;
    std::vector<std::string> cancel_files;  // names in C:\VerdanelFiles
    std::vector<std::string> problems;      // values refused, one line each
};
JobPlan plan_job(const JobReply& r);

// One call of the job endpoint; returns the HTTP response code.
int poll_print_token(ServerState& s);

}  // namespace station
