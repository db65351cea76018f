// The scheduler step: three stopwatches decide what is due.
#include "scheduler.h"

#include <cstdio>

#include "station/bmp_list.h"
#include "station/insole_data.h"
#include "station/job_poll.h"
#include "station/pending_jobs.h"
#include "station/records.h"
#include "station/transfer.h"

namespace station {

namespace {

// Strandel reads its list only as it starts: started without one, it would
// sit idle and block every later start.
void image_list_and_strandel(ServerState& s) {
    ensure_folder(s, insole_path());
    const BmpList list = write_bmp_list();
    if (list == BmpList::not_written) {
        if (!s.bmp_list_failing)
            s.log("Bmp_List.txt cannot be written (disk full or read-only?): Strandel waits until it can");
        s.bmp_list_failing = true;
        return;
    }
    s.bmp_list_failing = false;
    if (list == BmpList::none_waiting) return;
    const std::string strandel = server_path() + "/Strandel";
    // Its own process first: a version picked in its menu retitles its window.
    if (s.hooks.program_running(strandel) || s.hooks.find_window("Strandel")) {
        std::printf("Strandel 視窗執行中\n");  // UTF-8: the console's code page here
        std::fflush(stdout);
    } else {
        platform::change_dir(server_path());
        s.hooks.start_program(strandel);
    }
}

void records_and_image_list(ServerState& s) {
    ensure_folder(s, output_path());
    upload_brace_records(s);
    image_list_and_strandel(s);
}

}  // namespace

void file_cycle_while_busy(ServerState& s) {
    if (s.in_busy_file_cycle || s.file_watch.elapsed_seconds() <= 8.0) return;
    s.in_busy_file_cycle = true;
    s.ui->set_file_countdown(8.0 - s.file_watch.elapsed_seconds());
    records_and_image_list(s);
    s.file_watch.start();
    s.in_busy_file_cycle = false;
}

void shut_down_server(ServerState& s) {
    if (s.pending_unsaved) save_pending_jobs(s);
    const std::string jobs = std::to_string(s.pending.size()) + " job(s)";
    s.log("Stop requested: Hostlet ends; " +
          (s.pending_unsaved ? jobs + " could NOT be written to pending downloads.json and are lost"
                             : jobs + " kept in pending downloads.json"));
}

void server_tick(ServerState& s) {
    s.ui->set_file_countdown(8.0 - s.file_watch.elapsed_seconds());

    if (s.net_watch.elapsed_seconds() > 5.0) {
        check_internet(s);
        s.net_watch.start();
    }

    if (s.file_watch.elapsed_seconds() > 8.0) {
        records_and_image_list(s);
        // Started before the retries: a long download runs the next cycle itself.
        s.file_watch.start();
        if (!s.pending.empty()) {
            ensure_folder(s, server_path());
            ensure_folder(s, temp_path());
        }
        place_waiting_handoffs(s);
        retry_pending_jobs(s);
    }
    if (platform::stop_requested()) return;

    if (!s.online) return;
    s.ui->set_net_countdown(s.sleep_seconds - s.poll_watch.elapsed_seconds());
    if (s.poll_watch.elapsed_seconds() > s.sleep_seconds) {
        if (s.insole_mode) fetch_insole_data(s);
        s.poll_watch.start();
    }
    if (!s.insole_mode) {
        // Job mode asks on every tick, not after the interval.
        poll_print_token(s);
        s.poll_watch.start();
    }
}

}  // namespace station
