// The Linux layer: roots mapping, starting programs and the stopwatch clock,
// the lock, the internet check, windows by title and Windows wildcard search.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "platform/platform.h"
#include "tests/support/gl_context.h"

// Last: Xlib's macros would clash with the test framework's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using testsupport::TempDir;

// Other paths only change their separators; a root name that only begins
// like a station root is not one. Changing directory goes through the roots.
TEST(Roots, StationPathsMapOntoTheRootsWhateverTheirSpelling) {
    TempDir dir;
    const std::string files = dir / "VerdanelFiles", insole = dir / "insole";
    setenv("STATION_INSOLE_DIR", insole.c_str(), 1);
    setenv("STATION_FILES_DIR", (files + "/").c_str(), 1);
    const char* cases[][2] = {
        {"C:\\VerdanelFiles\\temp\\a.gcode", "F/temp/a.gcode"}, {"c:/verdanelfiles/output", "F/output"},
        {"C:/insole/%s_iLeft.bmp", "I/%s_iLeft.bmp"}, {"c:/insole/", "I/"}, {"C:\\insole\\Bmp_List.txt", "I/Bmp_List.txt"},
        {"./insole parameters.txt", "./insole parameters.txt"}, {"sub\\x.txt", "sub/x.txt"},
        {"C:\\insoles\\x", "C:/insoles/x"}, {"D:\\insole\\x", "D:/insole/x"}};
    for (const auto& c : cases) {
        const std::string want(c[1]);
        EXPECT_EQ(platform::map_path(c[0]), want[0] == 'F' ? files + want.substr(1)
                                            : want[0] == 'I' ? insole + want.substr(1) : want);
    }
    EXPECT_EQ(platform::server_dir(), files + "/Hostlet");
    EXPECT_EQ(platform::files_dir(), files);  // trailing slash of the setting dropped
    mkdir(insole.c_str(), 0755);
    const std::string before = platform::current_dir();
    ASSERT_TRUE(platform::change_dir("C:\\insole\\"));
    EXPECT_EQ(platform::current_dir(), insole);
    EXPECT_FALSE(platform::change_dir("C:\\insole\\missing"));
    platform::change_dir(before);
    unsetenv("STATION_INSOLE_DIR");
    unsetenv("STATION_FILES_DIR");
}

// Case-blind, as on the station's file system; the search lists directories too.
TEST(Wildcards, MatchAndSearchAsOnTheStationFileSystem) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"*.bmp", "A.BMP", true}, {"*.bmp", "x.y.bmp", true}, {"*.bmp", "a.bmpx", false}, {"*.bmp", "bmp", false},
        {"?b*", "ab", true},      {"*", "", true},            {"*.*", "a.gcode.1", true}};
    for (const auto& [pattern, name, match] : cases)
        EXPECT_EQ(platform::wildcard_match(pattern, name), match) << pattern << " " << name;
    TempDir d;
    for (const char* n : {"A.BMP", "b.bmp", "c.txt"}) std::ofstream(d / n) << "x";
    mkdir((d / "dir.bmp").c_str(), 0755);
    EXPECT_EQ(platform::find_files(d.path(), "*.bmp"), (std::vector<std::string>{"A.BMP", "b.bmp", "dir.bmp"}));
    EXPECT_TRUE(platform::find_files(d / "missing", "*").empty());
}

// Known by its own process: once it has ended, a process that takes its id
// (made to, where the kernel lets us pick the next id) is not taken for it.
TEST(Programs, StartDoesNotWaitLeavesNoZombieAndIsKnownByItsOwnProcess) {
    TempDir d;
    const std::string script = d / "prog.sh";
    std::ofstream(script) << "#!/bin/sh\nsleep 1\necho done > \"$1\"\n";
    chmod(script.c_str(), 0755);
    long pid = 0;
    platform::ProcessHandle h = -1;
    EXPECT_FALSE(platform::start_program("/nonexistent/Formlet"));
    const int64_t t0 = platform::perf_counter();
    ASSERT_TRUE(platform::start_program(script, {d / "out.txt"}, &pid, &h));
    // Returned before the program finished its one-second sleep: it runs
    // until it has written its file.
    EXPECT_FALSE(std::ifstream(d / "out.txt").good());
    EXPECT_TRUE(platform::still_running(h));
    for (int i = 0; i < 100 && platform::still_running(h); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(platform::still_running(h));
    EXPECT_TRUE(std::ifstream(d / "out.txt").good());
    // The stopwatch clock, in its own frequency, saw the second go by.
    const double seconds = double(platform::perf_counter() - t0) / double(platform::perf_frequency());
    EXPECT_TRUE(seconds >= 0.9 && seconds < 6) << seconds;
    // The started program is not our child, so nothing of ours can be a zombie.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);

    // Adopted here rather than by init, so that its id is free once reaped
    // (as init would) and another process can be made to take it.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    platform::close_process_handle(h);
    ASSERT_TRUE(platform::start_program("/bin/true", {}, &pid, &h));
    waitpid(static_cast<pid_t>(pid), nullptr, 0);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    pid_t taker = -1;
    for (int attempt = 0; attempt < 20 && taker != pid; ++attempt) {
        if (taker > 0) kill(taker, SIGKILL), waitpid(taker, nullptr, 0);
        std::ofstream("/proc/sys/kernel/ns_last_pid") << pid - 1 << std::flush;
        if ((taker = fork()) == 0) pause(), _exit(0);
    }
    const bool taken = taker == pid;
    EXPECT_FALSE(taken && platform::still_running(h)) << "process " << pid << " is another program now";
    kill(taker, SIGKILL);
    waitpid(taker, nullptr, 0);
    platform::close_process_handle(h);
    if (!taken) GTEST_SKIP() << "the next process id cannot be chosen here";
}

// The lock goes with its process, however that ends, even while a program
// it started runs on, and not with its directory.
TEST(Programs, LockIsHeldByOneProcessAndLetGoWhenItDies) {
    TempDir d;
    const std::string lock = d / "Hostlet";
    std::filesystem::create_directory(lock);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const char held =
            platform::hold_lock(lock) == platform::LockResult::held && platform::start_program("/bin/sleep", {"3"});
        if (write(ready[1], &held, 1) == 1) pause();
        _exit(0);
    }
    char held = 0;
    ASSERT_TRUE(read(ready[0], &held, 1) == 1 && held);
    EXPECT_EQ(platform::hold_lock(lock), platform::LockResult::held_elsewhere);
    std::filesystem::remove_all(lock);
    std::filesystem::create_directory(lock);
    EXPECT_EQ(platform::hold_lock(lock + "/."), platform::LockResult::held_elsewhere);
    EXPECT_EQ(platform::hold_lock(d / "other"), platform::LockResult::held);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(platform::hold_lock(lock), platform::LockResult::held);
}

// A name server that answers after delay_ms, with loopback.
int g_listen_port = 0;
std::atomic<int> g_lookups_started{0};
template <int delay_ms>
std::vector<platform::SocketAddress> slow_lookup(const std::string&, const std::string&) {
    ++g_lookups_started;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(g_listen_port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    platform::SocketAddress out{};
    std::memcpy(&out.addr, &a, sizeof a);
    out.len = sizeof a;
    return {out};
}

TEST(InternetCheck, ConnectsOnlyWhereSomethingListensWithinItsTimeNameLookupIncluded) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    g_listen_port = ntohs(a.sin_port);
    const std::string port = std::to_string(g_listen_port);
    const struct {
        std::string url;
        platform::LookupFn lookup;
        bool online;
    } cases[] = {
        {"https://127.0.0.1:" + port + "/", &platform::lookup_host, true},
        {"https://127.0.0.1:1/", &platform::lookup_host, false},  // nothing listens on port 1
        {"not a url", &platform::lookup_host, false},
        {"https://names.invalid/", &slow_lookup<400>, true},         // a slow answer still in time
        {"https://silent.invalid/", &slow_lookup<6000>, false},      // a silent name server
        {"https://silent.invalid/", &slow_lookup<6000>, false},      // ... asked again meanwhile
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::check_connection(c.url, 1500, c.lookup), c.online);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_LT(s, 1.6);
    }
    // The checks asked again while the silent lookup ran waited on it
    // instead of leaving one more thread behind each.
    EXPECT_EQ(g_lookups_started, 2);
    close(listener);
}

// Found by exact title, shown or minimised; a withdrawn window is not.
TEST(Windows, FoundByExactTitleShownOrMinimisedNotWithdrawn) {
    if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    // Top-level windows as a program and its window manager leave them.
    enum Mark { shown, wm_iconic, wm_withdrawn, net_hidden, hint_iconic, nothing };
    const struct {
        const char* title;
        Mark mark;
        bool found;
    } cases[] = {
        {"platform probe minimised by the window manager", wm_iconic, true},
        {"platform probe hidden by the window manager", net_hidden, true},
        {"platform probe iconic from the start, no window manager", hint_iconic, true},
        {"platform probe withdrawn", wm_withdrawn, false},
        {"platform probe never shown", nothing, false},
        {"platform probe shown", shown, true},
    };
    std::vector<Window> made;
    for (const auto& c : cases) {
        Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 50, 50, 0, 0, 0);
        made.push_back(w);
        XStoreName(d, w, c.title);
        if (c.mark == shown) XMapWindow(d, w);
        if (c.mark == wm_iconic || c.mark == wm_withdrawn) {
            long state[2] = {c.mark == wm_iconic ? IconicState : WithdrawnState, 0};
            Atom a = XInternAtom(d, "WM_STATE", False);
            XChangeProperty(d, w, a, a, 32, PropModeReplace, reinterpret_cast<unsigned char*>(state), 2);
        } else if (c.mark == net_hidden) {
            long hidden = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_HIDDEN", False));
            XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&hidden), 1);
        } else if (c.mark == hint_iconic) {
            XWMHints hints{};
            hints.flags = StateHint;
            hints.initial_state = IconicState;
            XSetWMHints(d, w, &hints);
        }
    }
    XSync(d, False);
    for (const auto& c : cases) EXPECT_EQ(platform::find_window(c.title) != 0, c.found) << c.title;
    for (const char* near : {"platform probe show", "platform probe shown2"}) EXPECT_EQ(platform::find_window(near), 0u);
    EXPECT_TRUE(platform::raise_window(platform::find_window("platform probe shown")));
    for (Window w : made) XDestroyWindow(d, w);
    XCloseDisplay(d);
}

}  // namespace

TEST(FramebufferCheck, TheContextMustOfferFrameBufferObjects) {
    struct Case {
        const char* version;
        const char* extensions;
        bool offered;
    } cases[] = {
        {"4.5 (Compatibility Profile) Mesa 22.3.6", nullptr, true},
        {"3.0 Mesa 9.0", "", true},
        {"OpenGL ES 3.2 Mesa 22.3.6", nullptr, true},
        {"2.1 Mesa 22.3.6", "GL_ARB_multitexture GL_EXT_framebuffer_object", false},
        {"2.1", "GL_ARB_multitexture GL_ARB_framebuffer_object GL_X", true},
        {"2.1", "GL_ARB_framebuffer_objects XGL_ARB_framebuffer_object", false},
        {nullptr, nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::gl_framebuffer_objects_offered(c.version, c.extensions), c.offered)
            << (c.version ? c.version : "null") << " / " << (c.extensions ? c.extensions : "null");
}
