// Fuzzes the reader of "pending downloads.json": whatever it accepts must
// come back byte for byte when written and read again, with bare file names only.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "station/pending_jobs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<station::PendingJob> jobs, again;
    std::string problem;
    if (!station::parse_pending_jobs(text, jobs, problem)) return 0;
    for (const auto& j : jobs)
        for (const auto& f : j.files)
            if (f.local_name.empty() || f.local_name.find('/') != std::string::npos || f.local_name == "..")
                std::abort();
    if (!station::parse_pending_jobs(station::pending_jobs_text(jobs), again, problem)) std::abort();
    if (again.size() != jobs.size()) std::abort();
    for (size_t i = 0; i < jobs.size(); ++i)
    {
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
