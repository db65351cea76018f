// The station server's state (what the entrance view owns), the seam to its
// window's widgets, and the hooks through which it reaches other programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "station/config.h"
#include "station/stopwatch.h"

namespace station {

// The widgets the server writes to; the window implements it, tests record.
class ServerUi {
public:
    virtual ~ServerUi() = default;
    virtual void add_log_line(const std::string& line) = 0;
    virtual void select_last_line() = 0;
    virtual void set_net_status(bool online) = 0;
    virtual void set_net_countdown(double seconds) = 0;
    virtual void set_file_countdown(double seconds) = 0;
};

class NullUi : public ServerUi {
public:
    void add_log_line(const std::string&) override {}
    void select_last_line() override {}
    void set_net_status(bool) override {}
    void set_net_countdown(double) override {}
    void set_file_countdown(double) override {}
};

// A download try that brings fewer than kDownloadStallBytesPerSecond bytes a
// second over kDownloadStallSeconds has failed: a service that trickles must
// not hold the window for the whole download limit.
constexpr long kDownloadStallSeconds = 30;
constexpr long kDownloadStallBytesPerSecond = 100;
// All record uploads of one file cycle together; what is left goes up at the
// next cycle.
constexpr long kRecordPassSeconds = 20;

// Limits of the transfers; a test shortens them.
struct TransferSettings {
    long request_timeout_ms = 1500;  // job and insole-data requests
    long connect_timeout_ms = 5000;  // downloads
    long stall_seconds = kDownloadStallSeconds;
    long stall_bytes_per_second = kDownloadStallBytesPerSecond;
    long download_timeout_ms = 600000;    // a whole download, however fast it runs
    size_t max_download_bytes = 256u << 20;  // a longer download is given up
    long upload_timeout_ms = 30000;  // one record upload
    long record_pass_ms = kRecordPassSeconds * 1000;
    int download_attempts = 3;
    int retry_pause_ms = 2000;
    int check_timeout_ms = 1500;  // internet check
    int max_redirects = 5;
};

// The outside world beyond files and the network.
struct ServerHooks {
    std::function<bool(const std::string& program)> start_program;
    // True while a process this server started from that path still runs.
    std::function<bool(const std::string& program)> program_running;
    std::function<platform::WindowHandle(const std::string& title)> find_window;
    std::function<bool(platform::WindowHandle)> raise_window;
    std::function<void(int ms)> pause;
    platform::MoveFn move = &platform::rename_no_replace;  // every move of a file, never replacing
};
ServerHooks platform_hooks();

// The interval of the insole-data calls until a reply sets a usable one.
constexpr int kDefaultSleepSeconds = 17;

// A job's download: the reply's file value and the name it gets on disk.
struct PendingDownload {
    std::string file_value;
    std::string local_name;
    std::string partial;  // name in temp/ of a try under way; a stop leaves it half written
};
// A bracing or slipper job whose files have not all arrived, or an insole
// job whose hand-off file is not yet written.
struct PendingJob {
    int printid = 0;
    std::string done_line;  // log line once every file is in
    std::vector<PendingDownload> files;
    bool handoff = false;       // an insole job: handoff_text waits to become "insole parameters.txt"
    std::string handoff_text;
    std::string mobile;
    bool announce = false;      // "Generating Insoles" once it is written (not for a cancellation)
};

struct ServerState {
    explicit ServerState(CounterFn counter = &platform::perf_counter,
                         int64_t frequency = platform::perf_frequency());
    ServerState(const ServerState&) = delete;  // ui may point into the state itself
    ServerState& operator=(const ServerState&) = delete;

    Stopwatch poll_watch;  // since the last web-service call; never started at first
    Stopwatch net_watch;   // since the last internet check
    Stopwatch file_watch;  // since the last file cycle
    int sleep_seconds = 17;
    int last_printid = 0;
    int job_count = 0;
    bool online = false;
    bool insole_mode = false;
    std::string reply;  // body of the last collected web-service reply
    std::string system_path;
    bool upload_failing = false;  // the last record upload did not go through
    std::vector<std::string> refused_alone;  // records the service refused on their own: sent last
    std::vector<PendingJob> pending;  // jobs whose files are still to come
    bool pending_file_blocked = false;  // an unreadable pending file that could not be moved aside
    bool pending_unsaved = false;       // `pending` is not yet on disk: written again every file cycle
    bool pending_unsaved_told = false;  // the log list heard of it
    std::vector<std::string> sent_records;  // accepted records that could not be removed: never sent again
    bool fitmire_refused_told = false;      // the log list heard that a Fitmire still runs
    bool bmp_list_failing = false;          // the last image list could not be written: Strandel waits
    std::vector<std::string> folders_failing;  // folders that could not be made again (told once)
    // The file cycle's other work, run while a download holds the tick.
    void (*busy_file_cycle)(ServerState&) = nullptr;
    bool in_busy_file_cycle = false;

    Config config;
    bool config_ok = false;  // without it no web-service call is made
    std::string config_error;

    TransferSettings transfer;
    ServerHooks hooks;
    ServerUi* ui;

    // A line in the log list and on the console.
    void log(const std::string& line);

private:
    NullUi null_ui_;
};

// Construction of the server: working directory, the folders it needs,
// station.conf, and the stopwatches started.
void init_server(ServerState& s);
// Reads station.conf from the server directory; reports what is wrong.
bool load_station_config(ServerState& s);
// Console and log lines about the configuration (its fault, or TLS off).
void report_config(ServerState& s);

// Makes dir, and any folder above it, again when it has gone while the
// server runs, with one log line; false (told once) when it cannot.
bool ensure_folder(ServerState& s, const std::string& dir);

// The station's directories, mapped.
std::string files_path();   // C:\VerdanelFiles
std::string temp_path();    // C:\VerdanelFiles\temp
std::string output_path();  // C:\VerdanelFiles\output
std::string server_path();  // C:\VerdanelFiles\Hostlet
std::string insole_path();  // C:\insole

// The last path component of a value from a reply (either slash), or false
// when that is empty, ".", "..", longer than platform::kMaxFileNameBytes or
// holds control characters.
bool safe_file_name(const std::string& value, std::string& name);

}  // namespace station
