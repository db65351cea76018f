// Hostlet, the station server: its window, then the event loop that runs the
// scheduler.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_ask.H>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "station/entrance_view.h"
#include "common/cjk_font.h"
#include "station/server_window.h"
#include "station/transfer.h"

int main(int argc, char** argv) {
    // A peer closing its socket mid-transfer must end that transfer, not the server.
    std::signal(SIGPIPE, SIG_IGN);
    // A shutdown's SIGTERM ends the server between its steps, not within one.
    platform::catch_stop_signals();
    // The console is the server's running log: whole lines, even into a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    common::use_cjk_font();
    // One server per station: a second would fetch every job and send every
    // record again. The lock goes with the process, however it ends.
    const std::string server_dir = platform::server_dir();
    platform::make_folders(server_dir);
    const platform::LockResult lock = platform::hold_lock(server_dir);
    if (lock == platform::LockResult::held_elsewhere) {
        const std::string line = "Hostlet is already running for " + server_dir + ": this second one ends";
        std::printf("%s\n", line.c_str());
        fl_message_title("Hostlet");
        fl_alert("%s", line.c_str());
        return 1;
    }
    const int lock_err = errno;
    station::ServerWindow sw = station::build_server_window();
    if (lock == platform::LockResult::failed)
        sw.entrance->state.log("the one-server lock of " + server_dir + " cannot be taken (" + std::strerror(lock_err) +
                               "): a second Hostlet would not be stopped");
    sw.server_window->position(0, 31);
    sw.server_window->set_non_modal();
    sw.server_window->end();
    sw.server_window->show(argc, argv);
    station::check_internet(sw.entrance->state);
    sw.server_window->show(argc, argv);
    return Fl::run();
}
