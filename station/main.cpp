// Hostlet, the station server: its window, then the event loop that runs the
// scheduler.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include <csignal>
#include <cstdio>

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
    station::ServerWindow sw = station::build_server_window();
    sw.server_window->position(0, 31);
    sw.server_window->set_non_modal();
    sw.server_window->end();
    sw.server_window->show(argc, argv);
    station::check_internet(sw.entrance->state);
    sw.server_window->show(argc, argv);
    return Fl::run();
}
