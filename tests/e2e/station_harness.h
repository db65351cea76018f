// Running the whole station from a test: a laid-out station root, the three
// built programs started as a real station starts them, every process that
// ends (Fitmire and Strandel too, which Hostlet starts detached) collected
// with its exit status, the stand-in service's replies, and window handling.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "strandel_harness.h"
#include "tests/support/gl_context.h"

extern char** environ;

namespace station_harness {

namespace fs = std::filesystem;

using testsupport::put;
using testsupport::slurp;

// The end of a log, enough to see why a wait ran out.
inline std::string tail(const std::string& text, size_t n = 6000) {
    return text.size() > n ? text.substr(text.size() - n) : text;
}

// Polls `done` every 100 ms for at most `seconds`.
inline bool wait_until(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

// One private Xvfb for the whole test program: the window search keeps its
// connection to the first display it was used on.
inline strandel_harness::VirtualDisplay& station_display() {
    static strandel_harness::VirtualDisplay display;
    return display;
}

// A process that ended: its pid, program name and how it ended.
struct Ended {
    pid_t pid;
    std::string program;
    int status;  // raw waitpid status
    bool crashed() const { return WIFSIGNALED(status) && WTERMSIG(status) != SIGTERM && WTERMSIG(status) != SIGKILL; }
    bool clean() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
    std::string how() const {
        if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
        if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
        return "?";
    }
};

// Makes this process the reaper of every descendant (Hostlet starts its
// programs detached, so they would otherwise go to init) and records each
// one's end with its name, read before it is reaped.
class ProcessWatch {
public:
    ProcessWatch() {
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        thread_ = std::thread([this] { run(); });
    }
    ~ProcessWatch() {
        stop_ = true;
        thread_.join();
    }

    std::vector<Ended> ended(const std::string& program = "") const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Ended> out;
        for (const Ended& e : ended_)
            if (program.empty() || e.program == program) out.push_back(e);
        return out;
    }
    // The end of pid, waiting at most `seconds`; false when it still runs.
    bool wait(pid_t pid, double seconds, Ended* out = nullptr) const {
        return wait_until(
            [&] {
                for (const Ended& e : ended())
                    if (e.pid == pid) {
                        if (out) *out = e;
                        return true;
                    }
                return false;
            },
            seconds);
    }

private:
    void run() {
        while (!stop_) {
            siginfo_t info;
            std::memset(&info, 0, sizeof info);
            if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid > 0) {
                const pid_t pid = info.si_pid;
                std::string comm = slurp("/proc/" + std::to_string(pid) + "/comm");
                while (!comm.empty() && comm.back() == '\n') comm.pop_back();
                int status = 0;
                if (waitpid(pid, &status, 0) == pid) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    ended_.push_back({pid, comm, status});
                }
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Ended> ended_;
    std::thread thread_;
};

// A station root laid out by tools/lay_out_station.sh from the build, with
// a station.conf for the stand-in service and the path program's start and
// end texts, so a complete G-code file can be told from a cut one.
struct Station {
    testsupport::TempDir tmp;
    std::string root = tmp.path();
    std::string insole = root + "/insole";
    std::string files = root + "/VerdanelFiles";
    std::string server = files + "/Hostlet";
    std::string output = files + "/output";
    std::string temp = files + "/temp";
    bool ok = false;

    static constexpr const char* kStartText = "; station job start";
    static constexpr const char* kEndText = "; station job end";

    // Laid out in-process, as tools/lay_out_station.sh does: a child process
    // here could be reaped by a ProcessWatch of an earlier test before
    // std::system saw it end.
    Station() {
        std::error_code ec;
        for (const std::string& d : {insole, temp, output, files + "/output_tmp", server}) fs::create_directories(d, ec);
        const std::string build = STATION_BINARY_DIR;
        ok = true;
        for (const char* prog : {"pathapp/Strandel", "scaler/Fitmire", "station/Hostlet"}) {
            const fs::path from = build + "/" + prog;
            ok = fs::copy_file(from, server + "/" + from.filename().string(), fs::copy_options::overwrite_existing,
                               ec) && ok;
        }
        for (const char* data : {"255mm narrow 20220606 backmove 5mm.bmp", "drop.png", "lut_ancestor.txt"})
            fs::copy_file(build + "/sample/" + data, server + "/" + data, fs::copy_options::overwrite_existing, ec);
        put(server + "/tx_begin_area.txt", kStartText);
        put(server + "/tx_end_area.txt", kEndText);
    }
    void configure(const std::string& service_url, const std::string& ca_file, unsigned key_number) {
        put(server + "/station.conf", "key_number = " + std::to_string(key_number) + "\nservice_url = " +
                                          service_url + "\ncheck_url = " + service_url + "/\nca_file = " + ca_file +
                                          "\ntls_verify = 1\n");
    }
    std::vector<std::string> env() const { return {"STATION_INSOLE_DIR=" + insole, "STATION_FILES_DIR=" + files}; }
    // The names of the plain files directly in dir, sorted.
    static std::vector<std::string> names_in(const std::string& dir) {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file()) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Starts program in cwd with the environment plus `extra`, output to log.
// The environment is built before the fork: this process has threads.
inline pid_t start_process(const std::string& program, const std::string& cwd, const std::vector<std::string>& extra,
                           const std::string& log) {
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        bool replaced = false;
        for (const std::string& x : extra)
            if (v.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0) replaced = true;
        if (!replaced) env_text.push_back(v);
    }
    for (const std::string& x : extra) env_text.push_back(x);
    std::vector<char*> envp;
    for (std::string& s : env_text) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::string prog = program;
    char* argv[] = {&prog[0], nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execve(prog.c_str(), argv, envp.data());
        _exit(127);
    }
    return pid;
}

inline pid_t start_hostlet(const Station& st, const std::string& log) {
    return start_process(st.server + "/Hostlet", st.server, st.env(), log);
}

// Asks the top-level window titled `title` to close, as its close box does.
inline bool close_window(const std::string& title) {
    const platform::WindowHandle w = platform::find_window(title);
    if (!w) return false;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(d, w, False, NoEventMask, &ev) != 0;
    XSync(d, False);
    XCloseDisplay(d);
    return sent;
}

// Resident memory of a running process in kB, or -1.
inline long rss_kb(pid_t pid) {
    std::istringstream in(slurp("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// ---- the web service's replies ----------------------------------------------------

constexpr const char* kJobPath = "/Mirel/getPrintToken.php";
constexpr const char* kInsolePath = "/Mirel/servlet/getOrbaneInsole.php";
constexpr const char* kRecordPath = "/Mirel/servlet/braceRecord.php";
constexpr const char* kHostletTitle = "鞋墊下載系統";

inline std::string job_reply(int printid, const std::string& type, const std::string& mobile,
                             const std::string& bmpfile, const std::string& bmpfile2, int sleep_s) {
    return "{\"resultCode\":200,\"token\":\"tk" + std::to_string(printid) +
           "\",\"sdate\":\"2026-12-01\",\"edate\":\"2026-12-31\",\"sleep\":" + std::to_string(sleep_s) +
           ",\"printid\":" + std::to_string(printid) + ",\"type\":\"" + type + "\",\"bmpfile\":\"" + bmpfile +
           "\",\"bmpfile2\":\"" + bmpfile2 + "\",\"mobile\":\"" + mobile +
           "\",\"btoken\":\"\",\"left\":\"0.25 245 0 0 0 0 0 0\",\"right\":\"0.3 250 0 0 0 0 0 0\"}";
}
inline std::string insole_job(int printid, const std::string& mobile, int sleep_s) {
    return job_reply(printid, "A001", mobile, "orders/" + mobile + "_7.bmp", "", sleep_s);
}
inline std::string cancel_job(int printid, const std::string& mobile, const std::string& order, int sleep_s) {
    return job_reply(printid, "A001", mobile, "orders/" + order + "_7.cancel", "", sleep_s);
}
inline std::string no_job(int sleep_s) {
    return "{\"resultCode\":200,\"sleep\":" + std::to_string(sleep_s) + ",\"printid\":0}";
}
inline std::string insole_data(const std::string& mobile) {
    return "{\"resultCode\":\"200\",\"mobile\":\"" + mobile +
           "\",\"mtime\":\"20261209\",\"timestamp\":\"1765260000\",\"pressureleftside\":\"12\","
           "\"pressurerightside\":\"14\",\"rdata\":\"0,1,2\",\"ldata\":\"2,1,0\"}";
}
inline std::string no_insole_data() { return "{\"resultCode\":\"204\"}"; }

// A ready G-code file as the service hands it out for bracing and slippers.
inline std::string service_gcode(const std::string& what, int lines) {
    std::string g = "; " + what + " start\nG21\nG90\n";
    for (int i = 0; i < lines; ++i)
        g += "G1 X" + std::to_string(10 + i % 90) + ".00 Y" + std::to_string(20 + i % 70) + ".00 E" +
             std::to_string(i) + ".000 F1800\n";
    return g + "; " + what + " end\n";
}

// A G-code file of the path program is complete when it opens with the
// start text and closes with the end text.
inline bool complete_gcode(const std::string& path, std::string* why = nullptr) {
    const std::string g = slurp(path), end = Station::kEndText;
    const size_t last = g.find_last_not_of("\r\n");
    const char* fault =
        g.rfind(Station::kStartText, 0) != 0 ? " does not open with the start text"
        : last == std::string::npos || last + 1 < end.size() || g.compare(last + 1 - end.size(), end.size(), end) != 0
            ? " does not close with the end text"
        : g.find("G1 X") == std::string::npos ? " holds no move" : nullptr;
    if (fault && why) *why = path + fault;
    return !fault;
}

}  // namespace station_harness
