// The layer height the end-to-end jobs print at.
#pragma once

namespace e2e {

// Thick layers keep a whole job short. The sanitizers make every layer
// several times slower, so their pass prints the thickest a spacing file may
// hold: what a job is checked for does not depend on how many layers it has.
#ifdef STATION_SANITIZED
constexpr bool kShortJobs = true;  // fewer jobs where a test prints many
#else
constexpr bool kShortJobs = false;
#endif

inline const char* job_spacing_file_value() {
#ifdef STATION_SANITIZED
    return "1.000000";
#else
    return "0.500000";
#endif
}

}  // namespace e2e
