// Server state, start-up checks, configuration report and the station paths.
#include "server_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "station/pending_jobs.h"
#include "station/scheduler.h"

namespace station {

namespace {
// Each program's last process, by its own handle: an id could belong to
// another process by now.
struct StartedPrograms {
    std::map<std::string, platform::ProcessHandle> last;
    ~StartedPrograms() {
        for (const auto& p : last) platform::close_process_handle(p.second);
    }
};
}  // namespace

ServerHooks platform_hooks() {
    ServerHooks h;
    auto started = std::make_shared<StartedPrograms>();
    h.start_program = [started](const std::string& program) {
        platform::ProcessHandle handle = -1;
        const bool ok = platform::start_program(program, {}, nullptr, &handle);
        if (ok) {
            auto it = started->last.find(program);
            if (it != started->last.end()) platform::close_process_handle(it->second);
            started->last[program] = handle;
        }
        return ok;
    };
    h.program_running = [started](const std::string& program) {
        auto it = started->last.find(program);
        if (it == started->last.end()) return false;
        if (platform::still_running(it->second)) return true;
        platform::close_process_handle(it->second);
        started->last.erase(it);
        return false;
    };
    h.find_window = [](const std::string& title) { return platform::find_window(title); };
    h.raise_window = [](platform::WindowHandle w) { return platform::raise_window(w); };
    h.pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    return h;
}

ServerState::ServerState(CounterFn counter, int64_t frequency)
    : poll_watch(counter, frequency),
      net_watch(counter, frequency),
      file_watch(counter, frequency),
      hooks(platform_hooks()),
      ui(&null_ui_) {}

void ServerState::log(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    ui->add_log_line(line);
}

std::string files_path() { return platform::map_path("C:\\VerdanelFiles"); }
std::string temp_path() { return platform::map_path("C:\\VerdanelFiles\\temp"); }
std::string output_path() { return platform::map_path("C:\\VerdanelFiles\\output"); }
std::string server_path() { return platform::map_path("C:\\VerdanelFiles\\Hostlet"); }
std::string insole_path() { return platform::map_path("C:\\insole"); }

bool ensure_folder(ServerState& s, const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = 0;
    const bool made = platform::make_folders(dir);
    const int err = errno;
    auto told = std::find(s.folders_failing.begin(), s.folders_failing.end(), dir);
    if (made) {
        if (told != s.folders_failing.end()) s.folders_failing.erase(told);
        s.log("Folder " + dir + " was missing: made again");
    } else if (told == s.folders_failing.end()) {
        s.folders_failing.push_back(dir);
        s.log("Folder " + dir + " is missing and cannot be made" +
              (err ? std::string(": ") + std::strerror(err) : std::string(" (a file has its name)")));
    }
    return made;
}

bool safe_file_name(const std::string& value, std::string& name) {
    size_t cut = value.find_last_of("/\\");
    std::string last = cut == std::string::npos ? value : value.substr(cut + 1);
    if (last.empty() || last == "." || last == ".." || last.size() > platform::kMaxFileNameBytes) return false;
    for (unsigned char c : last)
        if (c < 0x20 || c == 0x7f) return false;
    name = last;
    return true;
}

bool load_station_config(ServerState& s) {
    const std::string path = server_path() + "/station.conf";
    Config c;
    std::string error;
    s.config_ok = load_config(path, c, error);
    if (s.config_ok) {
        s.config = c;
        s.config_error.clear();
    } else {
        s.config_error = error;
    }
    return s.config_ok;
}

void report_config(ServerState& s) {
    if (!s.config_ok) {
        s.log(s.config_error);
        s.log("station.conf: no web-service calls until it is mended and the server restarted");
        return;
    }
    if (!s.config.tls_verify)
        s.log("WARNING: tls_verify = 0 in station.conf: the web service's certificate is not checked");
}

void init_server(ServerState& s) {
    // Before anything changes directory: a relative root would name another
    // directory after the first file cycle.
    for (const std::string& setting : platform::make_roots_absolute())
        std::printf("root made absolute: %s\n", setting.c_str());
    s.reply.clear();
    s.system_path = platform::utf8_to_ansi(platform::current_dir());
    std::printf("system_path:%s\n", s.system_path.c_str());
    for (const char* folder : {"c:/insole/", "c:/VerdanelFiles/temp/"}) {
        const std::string dir = platform::map_path(folder);
        struct stat st;
        if (stat(dir.c_str(), &st) == 0) {
            std::printf("data/ folder found \n");
        } else {
            std::printf("can not find data/ folder \n");
            if (mkdir(dir.c_str(), 0777) == 0) std::printf("create data/ folder sucess \n");
            else std::printf("create data/ folder fail \n");
        }
    }
    load_station_config(s);
    report_config(s);
    load_pending_jobs(s);
    s.job_count = 0;
    s.insole_mode = false;
    s.file_watch.start();
    s.net_watch.start();
    s.sleep_seconds = kDefaultSleepSeconds;
    s.busy_file_cycle = &file_cycle_while_busy;
}

}  // namespace station
