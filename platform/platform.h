// The Linux layer standing in for the Windows services the station was
// designed around: directory roots, programs, windows by title, clocks,
// the internet check, code pages, directory search and GL entry points.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// ---- directory roots ------------------------------------------------------
// "C:\insole" maps to $STATION_INSOLE_DIR and "C:\VerdanelFiles" to
// $STATION_FILES_DIR (defaults under $HOME/insole-station).
std::string insole_dir();
std::string files_dir();
std::string server_dir();  // files_dir()/Hostlet
// Maps a path written in the station's Windows form (any slashes, any letter
// case of the drive and root: "C:\\VerdanelFiles\\temp\\%s", "c:/insole/")
// onto the roots; any other path comes back with backslashes made slashes.
std::string map_path(const std::string& path);
// Makes a relative STATION_INSOLE_DIR or STATION_FILES_DIR absolute from the
// current directory, in the environment too, so that the roots keep naming
// the same directories after a change of directory and in started programs.
// Returns the settings it changed, one "NAME=value" each.
std::vector<std::string> make_roots_absolute();

// ---- programs and directories ---------------------------------------------
// A started program's own process (a pidfd): unlike its id, which another
// process may take once it has ended, it never names any other. -1: none.
using ProcessHandle = int;
// Starts a program without waiting for it; the child is reaped by the system,
// never left a zombie. False (and a console line) when it cannot be started;
// otherwise the program's process id goes to *pid and a handle on its process
// to *handle when given (the caller closes it; started programs never inherit it).
bool start_program(const std::string& path, const std::vector<std::string>& args = {}, long* pid = nullptr,
                   ProcessHandle* handle = nullptr);
// True while the process of the handle runs.
bool still_running(ProcessHandle handle);
void close_process_handle(ProcessHandle handle);

// ---- one instance ----------------------------------------------------------
enum class LockResult { held, held_elsewhere, failed };
// Takes the one lock of directory dir for the rest of this process's life:
// no file holds it, so deleting the directory does not lift it; the system
// lets go when the process ends, however it ends, and programs it starts do
// not inherit it.
LockResult hold_lock(const std::string& dir);

// ---- stop requests ----------------------------------------------------------
// SIGTERM, SIGINT and SIGHUP no longer end the process at once: they set a
// flag that the program reads between its steps.
void catch_stop_signals();
bool stop_requested();
bool change_dir(const std::string& path);  // path goes through map_path
// Makes dir and every missing folder above it; true when dir is a folder then.
bool make_folders(const std::string& dir);
std::string current_dir();

// ---- windows by title (X11) -----------------------------------------------
using WindowHandle = unsigned long;  // 0 = none
WindowHandle find_window(const std::string& exact_title);
bool raise_window(WindowHandle w);

// ---- clocks ----------------------------------------------------------------
int64_t perf_counter();    // monotonic ticks
int64_t perf_frequency();  // ticks per second
std::tm local_time();

// ---- internet check --------------------------------------------------------
struct SocketAddress {
    sockaddr_storage addr;
    socklen_t len;
};
// Name lookup: the stream addresses of host and port, empty when none.
using LookupFn = std::vector<SocketAddress> (*)(const std::string& host, const std::string& port);
std::vector<SocketAddress> lookup_host(const std::string& host, const std::string& port);
// A real connection attempt to the host and port of url ("https://host:port/...");
// the name lookup and all connection attempts together end within timeout_ms.
bool check_connection(const std::string& url, int timeout_ms, LookupFn lookup = &lookup_host);

// ---- code pages ------------------------------------------------------------
// File names and the console are UTF-8 here, so the conversions keep the bytes.
std::string utf8_to_ansi(const std::string& s);
std::string ansi_to_utf8(const std::string& s);

// ---- directory search ------------------------------------------------------
// Names (not paths) in dir matching a Windows wildcard pattern ("*.bmp"):
// case-insensitive, '*' and '?' wildcards; directories match too. Sorted.
std::vector<std::string> find_files(const std::string& dir, const std::string& pattern);
bool wildcard_match(const std::string& pattern, const std::string& name);

// Moves from onto to only when nothing is at to; an existing file is never
// replaced, not even one that appears meanwhile.
enum class MoveResult { moved, target_exists, failed };
MoveResult rename_no_replace(const std::string& from, const std::string& to);
using MoveFn = MoveResult (*)(const std::string& from, const std::string& to);

// The longest name one directory entry can have.
constexpr size_t kMaxFileNameBytes = 255;
// base for n < 2, else base + "." + n; a long last component is cut short so
// that the numbered name is still a valid file name.
std::string numbered_name(const std::string& base, int n);
// Moves from onto the first free one of numbered_name(base, first),
// numbered_name(base, first + 1), ...; the name taken goes to `to`. Nothing
// is replaced; target_exists only when every number up to a bound is taken.
MoveResult move_to_free_name(const std::string& from, const std::string& base, int first, std::string& to,
                             MoveFn move = &rename_no_replace);

// Creates a new file for writing, never opening one that is already there
// (exclusive creation); nullptr with errno (EEXIST when the name is taken).
FILE* create_new_file(const std::string& path);
// create_new_file on base, or, when that is taken, on the first free
// numbered_name(base, 2), (base, 3), ...; the name made goes to `made`.
FILE* create_file_free_name(const std::string& base, std::string& made);

// Moves the files (all in one directory) into `folder` (made when missing)
// under their own names, or, when any of those is taken, all with the same
// first free " (n)" before their extension: "x.bmp" and "x.txt" become
// "x (2).bmp" and "x (2).txt". Nothing there is replaced. The new path of
// each file, "" for one that could not be moved.
std::vector<std::string> set_aside(const std::vector<std::string>& paths, const std::string& folder);

// ---- OpenGL ----------------------------------------------------------------
void* gl_proc_address(const char* name);
// True when a context with these GL_VERSION and GL_EXTENSIONS strings has
// frame-buffer objects (version 3.0 or later, or the ARB extension listed).
// Either string may be null. The lookup above hands back a stub for any name,
// so only the context can say whether they are really there.
bool gl_framebuffer_objects_offered(const char* version, const char* extensions);

}  // namespace platform
