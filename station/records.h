// Production records in C:\VerdanelFiles\output: their names, the upload
// body, and the upload.
#pragma once

#include <string>
#include <vector>

#include "station/server_state.h"

namespace station {

struct BraceRecord {
    int no = 0;
    std::string size, type, timestamp;
};

// Index of the first ".gcode." with at least one character after it, or -1.
int find_gcode_marker(const std::string& name);
// True when name is a record ("<lead><no>_<size>-<type>.gcode.<timestamp>").
bool parse_record_name(const std::string& name, BraceRecord& out);
// {"arrays":[{...},{...}]} with every text JSON-escaped.
std::string build_records_body(const std::vector<BraceRecord>& records);

// The record-upload request, ending within timeout_ms; returns the HTTP
// response code.
int post_brace_record(ServerState& s, const std::string& body, long timeout_ms);
// Where records the service refuses for good are set aside:
// C:\VerdanelFiles\output_refused.
std::string refused_records_path();
// Uploads the records in the output directory, removing each as soon as the
// service has taken it and every non-record at once; after a batch refused
// for good, each record goes alone, and one refused alone while the service
// takes others is set aside; no upload starts after the record pass limit,
// and each has its own full timeout; returns the number of records found.
int upload_brace_records(ServerState& s);

}  // namespace station
