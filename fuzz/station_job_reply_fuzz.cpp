// Fuzzes the job endpoint's reply handling: reading the reply and planning
// the job's files; every planned name must stay a plain file name.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "station/job_poll.h"

namespace {
void check_name(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    station::JobReply reply;
    std::string problem;
    if (station::parse_job_reply(body, reply, problem) != station::ReplyVerdict::accepted) return 0;
    station::JobPlan plan = station::plan_job(reply);
    for (const auto& d : plan.downloads) check_name(d.local_name);
    for (const auto& c : plan.cancel_files) check_name(c);
    if (plan.write_handoff) {  // exactly the two lines of the hand-off file
        size_t breaks = 0;
        for (char c : plan.handoff_text) breaks += c == '\n' || c == '\r';
        if (breaks != 4) std::abort();
    }
    station::is_cancel(reply.bmpfile);
    station::cancel_name(reply.bmpfile);
    return 0;
}
