// Fuzzes the reader of "pending downloads.json": whatever it accepts must
// come back byte for byte when written and read again, with bare file names
// only, no job twice, and every entry either kept or set aside with a line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "station/pending_jobs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<station::PendingJob> jobs, again;
    std::vector<std::string> set_aside, none;
    std::string problem;
    if (!station::parse_pending_jobs(text, jobs, problem, &set_aside)) return 0;
    for (const auto& j : jobs)
        for (const auto& f : j.files)
            if (f.local_name.empty() || f.local_name.find('/') != std::string::npos || f.local_name == ".." ||
                f.local_name.size() > platform::kMaxFileNameBytes)
                std::abort();
    for (size_t i = 0; i < jobs.size(); ++i)
        for (size_t k = 0; k < i; ++k)
            if (jobs[k].printid == jobs[i].printid && jobs[k].files.size() == jobs[i].files.size()) {
                bool same = true;
                for (size_t f = 0; f < jobs[i].files.size(); ++f)
                    same = same && jobs[k].files[f].file_value == jobs[i].files[f].file_value &&
                           jobs[k].files[f].local_name == jobs[i].files[f].local_name;
                if (same) std::abort();
            }
    if (!station::parse_pending_jobs(station::pending_jobs_text(jobs), again, problem, &none)) std::abort();
    if (again.size() != jobs.size() || !none.empty()) std::abort();
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (again[i].printid != jobs[i].printid || again[i].done_line != jobs[i].done_line ||
            again[i].files.size() != jobs[i].files.size())
            std::abort();
        for (size_t k = 0; k < jobs[i].files.size(); ++k)
            if (again[i].files[k].file_value != jobs[i].files[k].file_value ||
                again[i].files[k].local_name != jobs[i].files[k].local_name)
                std::abort();
    }
    return 0;
}
