// The job poll and the insole-data request against the stand-in service: job
// kinds, downloads that fail in every way, jobs waiting, and TLS.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <tuple>

#include "station/insole_data.h"
#include "station/job_poll.h"
#include "station/pending_jobs.h"
#include "station/scheduler.h"
#include "tests/station/station_fixture.h"

namespace {

using stationtest::advance_ms;
using stationtest::names_in;
using stationtest::read_all;
using stationtest::write_all;
using testsupport::answer;

const std::string kJobPath = "/Mirel/getPrintToken.php";
const char* const kIdle = R"({"resultCode":200,"sleep":6,"printid":0})";

std::string job_reply(const std::string& type, const std::string& bmpfile, const std::string& extra = "",
                      int printid = 31, const std::string& mobile = "A1") {
    return R"({"resultCode":200,"token":"tk","sdate":"s","edate":"e","sleep":4,"printid":)" + std::to_string(printid) +
           R"(,"type":")" + type + R"(","bmpfile":")" + bmpfile + R"(","mobile":")" + mobile + "\"" + extra + "}";
}
std::string slipper_reply(int printid) {
    return job_reply("b001", "s/l.gcode", R"(,"bmpfile2":"s/r.gcode")", printid);
}

class JobPoll : public stationtest::StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        start_service();
        make_server();
    }
    int poll() { return station::poll_print_token(*state); }
};

// Other result codes and broken replies change nothing; printid 0 only the mode.
TEST_F(JobPoll, OnlyAnAcceptedReplyChangesTheModeAndPrintidZeroNothingElse) {
    for (const char* body : {R"({"resultCode":500,"sleep":6,"printid":0})", R"({"resultCode":"200","sleep":6,"printid":0})",
                             "<html>", R"({"resultCode":200,"sleep":6})"}) {
        service->push(kJobPath, answer(200, body));
        EXPECT_EQ(poll(), 0) << body;
        EXPECT_FALSE(state->insole_mode) << body;
        EXPECT_EQ(state->sleep_seconds, 17) << body;
    }
    service->push(kJobPath, answer(503, kIdle));
    EXPECT_EQ(poll(), 503);
    service->push(kJobPath, answer(200, kIdle, 2500));
    EXPECT_EQ(poll(), 0) << "a slow service gives code 0";
    EXPECT_FALSE(state->insole_mode);
    service->push(kJobPath, answer(200, kIdle));
    EXPECT_EQ(poll(), 200);
    const auto q = service->requests().back();
    EXPECT_EQ(q.method + " " + q.content_type + " " + q.body, "POST application/x-www-form-urlencoded {\"orbane\":\"4242\"}");
    EXPECT_TRUE(state->insole_mode && state->sleep_seconds == 6 && state->last_printid == 0);
    EXPECT_TRUE(ui.lines.empty() && started.empty());
}

// Each accepted insole-data reply replaces the stored file (CR LF lines) and
// starts Fitmire in the server directory, but not a second one while the
// first runs (by its own process or by its window); refused replies, other
// codes and a slow service write and start nothing.
TEST_F(JobPoll, InsoleDataRepliesReplaceTheFileAndStartOneFitmireAtATime) {
    const std::string kInsole = "/Mirel/servlet/getOrbaneInsole.php", info = files + "/Hostlet/insole_info_type4.txt";
    for (const char* body : {R"({"resultCode":200})", R"({"resultCode":"500"})", "not json at all", "[\"200\"]"}) {
        service->push(kInsole, answer(200, body));
        EXPECT_EQ(station::fetch_insole_data(*state), 200) << body;
    }
    service->push(kInsole, answer(404, R"({"resultCode":"200"})"));
    EXPECT_EQ(station::fetch_insole_data(*state), 404);
    service->push(kInsole, answer(200, R"({"resultCode":"200"})", 2000));
    EXPECT_EQ(station::fetch_insole_data(*state), 0) << "past the 1500 ms time-out";
    EXPECT_FALSE(common::file_exists(info));
    EXPECT_TRUE(started.empty());

    add_holding_program("Fitmire", root + "/hold");
    service->clear_requests();
    service->push(kInsole, answer(200, "{\"resultCode\":\"200\",\n\"ldata\":[1,2,3]}"));
    for (int n = 2; n <= 4; ++n) service->push(kInsole, answer(200, R"({"resultCode":"200","n":)" + std::to_string(n) + "}"));
    EXPECT_EQ(station::fetch_insole_data(*state), 200);
    EXPECT_EQ(service->requests()[0].body, "{\"orbane\":\"4242\"}");
    EXPECT_EQ(read_all(info), "{\"resultCode\":\"200\",\r\n\"ldata\":[1,2,3]}");
    EXPECT_FALSE(common::file_exists(info + ".tmp"));
    EXPECT_EQ(started, std::vector<std::string>{files + "/Hostlet/Fitmire"});
    EXPECT_EQ(platform::current_dir(), files + "/Hostlet");
    station::fetch_insole_data(*state);
    EXPECT_EQ(read_all(info), R"({"resultCode":"200","n":2})");
    EXPECT_EQ(started.size(), 1u);
    end_holding_program("Fitmire", root + "/hold");
    window_open = true;  // a Fitmire this server did not start
    station::fetch_insole_data(*state);
    EXPECT_EQ(started.size(), 1u);
    window_open = false;
    station::fetch_insole_data(*state);
    EXPECT_EQ(started.size(), 2u);
}

// ---- downloads that fail --------------------------------------------------------

class Download : public JobPoll {
protected:
    void bracing(const std::string& file, int printid = 31) {
        service->push(kJobPath, answer(200, job_reply("C1", file, "", printid)));
    }
    void expect_nothing_left(const std::string& name) {
        EXPECT_FALSE(common::file_exists(files + "/" + name));
        EXPECT_TRUE(names_in(files + "/temp").empty());
        EXPECT_TRUE(ui.has_line("Download failed: " + name));
        EXPECT_FALSE(ui.has_line("External Bracing Downloaded ~"));
    }
};

// Only a whole, non-empty body becomes the job's file; any other try leaves
// nothing and the job waits (a 404 tried a few times, with a pause). Whole: its length reached, its last chunk read,
// or with neither the service's TLS close received (a TCP close alone cannot
// be told from a cut line). A body sent gzip-encoded unasked is stored
// decoded (packed by the gzip tool, not by the station's code); one in an
// encoding that cannot be undone is no file.
TEST_F(Download, OnlyAWholeNonEmptyBodyIsAFile) {
    state->transfer.max_download_bytes = 50000;
    std::string gcode;
    for (int i = 0; gcode.size() < 6000; ++i) gcode += "G1 X" + std::to_string(i % 200) + " Y5\n";
    auto reply = [](const std::string& body, bool unframed, bool chunked, size_t cut = std::string::npos) {
        testsupport::FakeResponse r = answer(200, body);
        std::tie(r.unframed, r.chunked, r.truncate_at) = std::make_tuple(unframed, chunked, cut);
        return r;
    };
    testsupport::FakeResponse loop = answer(302, ""), moved = answer(302, ""), stall = reply(gcode, false, false, 100),
                              trickle = answer(200, std::string(200, 'G'));
    loop.location = "/Mirel/b1.gcode";  // itself, endlessly
    moved.location = "/Mirel/at_limit.gcode";
    service->set_default(moved.location, answer(200, std::string(50000, 'G')));
    stall.stall_ms = 2500;
    trickle.drip_ms = 25;  // 40 bytes a second: under the stall limit, yet never silent
    testsupport::FakeResponse gzip = answer(200, std::string("\x1f\x8b\x08\0\0\0\0\0\x02\x03\x73\x37\x54\x88\x30\x54"
        "\x88\x34\xe2\x72\x07\x32\x8c\x15\x22\x4d\xb8\0\x6e\x86\x47\x35\x12\0\0\0", 36)), unheard = gzip;
    gzip.content_encoding = "gzip";
    unheard.content_encoding = "x-unheard-of";
    const struct {
        testsupport::FakeResponse r;
        std::string placed;  // "": nothing
    } cases[] = {
        {loop, ""}, {stall, ""}, {trickle, ""}, {answer(200, std::string(50001, 'G')), ""},
        {moved, std::string(50000, 'G')},
        {reply(gcode, true, false, gcode.size() / 2), ""},  // the station's case: no length, cut
        {reply(gcode, true, false, gcode.size()), ""},      // every byte, but no TLS close
        {reply(gcode, true, false), gcode},
        {reply(gcode, false, false, gcode.size() / 2), ""},
        {reply(gcode, false, true, gcode.size() / 2), ""},
        {reply(gcode, false, true), gcode},
        {reply("", true, false, 0), ""},  // headers, then a close
        {reply("", true, false), ""},
        {reply("", false, false), ""},  // Content-Length: 0
        {gzip, "G1 X1 Y2\nG1 X3 Y4\n"}, {unheard, ""}, {answer(404, "gone"), ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string name = "b" + std::to_string(i + 1) + ".gcode";
        SCOPED_TRACE(name);
        ui.lines.clear();
        pauses.clear();
        service->set_default("/Mirel/" + name, cases[i].r);
        bracing(name, static_cast<int>(i + 100));
        const auto t0 = std::chrono::steady_clock::now();
        poll();
        if (cases[i].placed.empty()) expect_nothing_left(name);
        else EXPECT_EQ(read_all(files + "/" + name), cases[i].placed);
        EXPECT_EQ(state->pending.size(), cases[i].placed.empty() ? 1u : 0u) << "tried again later";
        state->pending.clear();
        if (name == "b3.gcode") {
            EXPECT_EQ(service->count("/Mirel/b3.gcode"), 1u) << "a try ended by the stall limit is not repeated at once";
            EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
        }
        if (i + 1 == std::size(cases)) {
            EXPECT_TRUE(service->count("/Mirel/" + name) == 3 && pauses.size() == 2);
        }
    }
    // With no temp folder to write in (a file has its name), a sound file is a failure too.
    rmdir((files + "/temp").c_str());
    write_all(files + "/temp", "");
    ui.lines.clear();
    bracing("b.gcode");
    service->set_default("/Mirel/b.gcode", answer(200, "x"));
    poll();
    expect_nothing_left("b.gcode");
}

// The left file failing, the right one is not asked for. The path program's
// G-code of the customer's insole job is in place, and its next one is being
// written in temp/ under the same name: the slipper's files are kept beside.
TEST_F(Download, SlipperLeftComesFirstAndAnInsoleGcodeOfTheSameNameIsKept) {
    service->push(kJobPath, answer(200, slipper_reply(30)));
    service->set_default("/Mirel/s/l.gcode", answer(503, "down"));
    service->set_default("/Mirel/s/r.gcode", answer(200, "slipper right"));
    poll();
    EXPECT_EQ(service->count("/Mirel/s/r.gcode"), 0u);
    EXPECT_FALSE(common::file_exists(files + "/A1_iRight.gcode"));
    state->pending.clear();
    ui.lines.clear();
    write_all(files + "/A1_iLeft.gcode", "insole G-code");
    write_all(files + "/temp/A1_iLeft.gcode", "insole G-code being written");
    service->set_default("/Mirel/s/l.gcode", answer(200, "slipper left"));
    service->push(kJobPath, answer(200, slipper_reply(31)));
    poll();
    EXPECT_TRUE(ui.has_line("type : b001") && ui.has_line("Slipper Downloaded ~"));
    EXPECT_EQ(read_all(files + "/A1_iLeft.gcode"), "insole G-code");
    EXPECT_EQ(read_all(files + "/temp/A1_iLeft.gcode"), "insole G-code being written");
    EXPECT_EQ(read_all(files + "/temp/A1_iLeft.gcode.2"), "slipper left");
    EXPECT_TRUE(ui.has_line("Download left in temp/, A1_iLeft.gcode exists: " + files + "/temp/A1_iLeft.gcode.2"));
    EXPECT_EQ(read_all(files + "/A1_iRight.gcode"), "slipper right");
    EXPECT_TRUE(state->pending.empty()) << "the files came: nothing to fetch again";

    // A file kept in temp/ under its plain name moves to a numbered one, where
    // the path program's next G-code of that name cannot write over it.
    remove((files + "/temp/A1_iLeft.gcode").c_str());
    service->set_default("/Mirel/s/l.gcode", answer(200, "slipper left again"));
    service->push(kJobPath, answer(200, slipper_reply(32)));
    poll();
    EXPECT_EQ(read_all(files + "/temp/A1_iLeft.gcode.2"), "slipper left");
    EXPECT_EQ(read_all(files + "/temp/A1_iLeft.gcode.3"), "slipper left again");
    EXPECT_FALSE(common::file_exists(files + "/temp/A1_iLeft.gcode"));
    EXPECT_EQ(read_all(files + "/temp/A1_iRight.gcode.2"), "slipper right");
}

TEST_F(Download, TempNamesNeverOverwriteAKeptFileHoweverManyOrLong) {
    // Past a hundred copies, and a name of 255 bytes whose numbered copies
    // must be cut to stay file names.
    const std::string longest = std::string(249, 'x') + ".gcode";
    ASSERT_EQ(longest.size(), 255u);
    int printid = 50;
    for (const std::string& name : {std::string("b.gcode"), longest}) {
        SCOPED_TRACE(name.size());
        const std::string base = files + "/temp/" + name;
        write_all(base, "kept 1");
        for (int n = 2; n <= 101; ++n) write_all(platform::numbered_name(base, n), "kept " + std::to_string(n));
        service->set_default("/Mirel/" + name, answer(200, "new"));
        service->push(kJobPath, answer(200, job_reply("C1", name, "", ++printid)));
        poll();
        EXPECT_EQ(read_all(files + "/" + name), "new") << "placed from the first free temp name";
        EXPECT_EQ(read_all(base), "kept 1");
        for (int n = 2; n <= 101; ++n)
            ASSERT_EQ(read_all(platform::numbered_name(base, n)), "kept " + std::to_string(n)) << n;
        EXPECT_FALSE(common::file_exists(platform::numbered_name(base, 102)));
    }
}

TEST_F(Download, FileValueGoesIntoTheAddressAsItStands) {
    const struct {
        const char* value;
        const char* target;  // as sent
    } cases[] = {
        {"orders/a%41b.gcode", "/Mirel/orders/a%41b.gcode"},
        {"o/x y\xE9.gcode", "/Mirel/o/x%20y%E9.gcode"},
        {"o/100%.gcode", "/Mirel/o/100%25.gcode"},
        {"o/%4g%4", "/Mirel/o/%254g%254"},
        {"o/a(1)+b~!.gcode", "/Mirel/o/a(1)+b~!.gcode"},
        {"o/a%41", "/Mirel/o/a%41"},  // a %XX at the very end stands as well
        {"o/a%4", "/Mirel/o/a%254"},
    };
    state->transfer.download_attempts = 1;
    int printid = 40;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        service->clear_requests();
        service->push(kJobPath, answer(200, job_reply("C1", c.value, "", ++printid)));
        poll();
        auto reqs = service->requests();
        ASSERT_EQ(reqs.size(), 2u);
        EXPECT_EQ(reqs[1].target, c.target);
    }
    // The service decodes %41 to A: the file asked for is the one it serves.
    service->set_default("/Mirel/orders/aAb.gcode", answer(200, "A"));
    service->push(kJobPath, answer(200, job_reply("C1", "orders/a%41b.gcode", "", ++printid)));
    poll();
    EXPECT_EQ(read_all(files + "/a%41b.gcode"), "A");
}

// ---- downloads still to come ---------------------------------------------------

class Pending : public JobPoll {
protected:
    void SetUp() override {
        JobPoll::SetUp();
        pending_file = files + "/Hostlet/pending downloads.json";
        add_program("Strandel");
        service->set_default(kJobPath, answer(200, kIdle));
    }
    void file_cycle() {
        advance_ms(8100);
        station::server_tick(*state);
    }
    void restart() {
        make_server();
        state->online = true;
    }
    std::string pending_file;
};

// While its first try runs the job is in the pending file, with the try's
// temp file; a half file left by a stop is cleared at start, the files kept
// in temp/ stay, and the job is fetched again on a file cycle, once.
TEST_F(Pending, JobIsPendingFromItsFirstTryAndItsHalfFileIsClearedAtStart) {
    std::vector<station::PendingJob> during;
    service->set_responder("/Mirel/a.gcode", [&](const std::string&) {
        std::string problem;
        station::parse_pending_jobs(read_all(pending_file), during, problem);
        return answer(200, "A");
    });
    service->push(kJobPath, answer(200, job_reply("C1", "a.gcode")));
    poll();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_TRUE(during[0].printid == 31 && during[0].files.size() == 1 && during[0].files[0].partial == "a.gcode");
    EXPECT_EQ(read_all(files + "/a.gcode"), "A");
    EXPECT_FALSE(common::file_exists(pending_file));

    write_all(pending_file, R"({"jobs":[{"printid":9,"done":"External Bracing Downloaded ~","files":[)"
                            R"({"value":"b.gcode","name":"b.gcode","partial":"b.gcode.2"}]}]})");
    for (const char* kept : {"b.gcode", "b.gcode.3"}) write_all(files + "/temp/" + kept, "kept");
    write_all(files + "/temp/b.gcode.2", "half");
    restart();
    EXPECT_EQ(names_in(files + "/temp"), (std::vector<std::string>{"b.gcode", "b.gcode.3"}));
    // The service sends the job again, twice: no second job.
    for (int i = 0; i < 2; ++i) {
        service->push(kJobPath, answer(200, job_reply("C1", "b.gcode", "", 9)));
        poll();
        state->insole_mode = false;
    }
    EXPECT_TRUE(ui.has_line("Job 9 is already waiting for its downloads"));
    service->set_default("/Mirel/b.gcode", answer(200, "B"));
    file_cycle();
    file_cycle();
    EXPECT_EQ(read_all(files + "/b.gcode"), "B");
    EXPECT_EQ(service->count("/Mirel/b.gcode"), 1u) << "fetched once, then no longer";
    EXPECT_FALSE(common::file_exists(pending_file));
}

// A hand-off file Fitmire has not taken is never replaced: the next insole
// job waits, in the pending file too, and goes once the file has gone, with
// Formlet, its announcement and Strandel raised; a job coming meanwhile
// waits behind it.
TEST_F(Pending, InsoleJobWaitsForTheHandOffBeforeIt) {
    add_program("Formlet");
    const std::string handoff = files + "/Hostlet/insole parameters.txt";
    auto insole_job = [&](int printid, const std::string& mobile, const char* sides) {
        service->push(kJobPath, answer(200, job_reply("A001", "x/1.bmp", sides, printid, mobile)));
        state->insole_mode = false;
        poll();
    };
    const char* a_sides = R"(,"left":"la","right":"ra")";
    const char* b_sides = R"(,"left":"lb","right":"rb")";
    insole_job(31, "A1", a_sides);
    insole_job(32, "B2", b_sides);
    EXPECT_EQ(read_all(handoff), "left la\r\nright ra A1\r\n");
    EXPECT_TRUE(ui.has_line("Job 32 (B2): insole parameters.txt of an earlier job not yet taken by Fitmire"));
    EXPECT_FALSE(ui.has_line("NO.2"));
    EXPECT_EQ(started.size(), 1u) << "Formlet goes with the hand-off";
    insole_job(31, "A1", a_sides);  // both sent again: no second job
    insole_job(32, "B2", b_sides);
    EXPECT_EQ(state->pending.size(), 1u);
    restart();  // it waits across a restart
    file_cycle();
    EXPECT_EQ(read_all(handoff), "left la\r\nright ra A1\r\n");
    std::remove(handoff.c_str());  // Fitmire takes it
    insole_job(33, "C3", R"(,"left":"lc","right":"rc")");
    ui.lines.clear();
    window_open = true;
    file_cycle();
    EXPECT_EQ(read_all(handoff), "left lb\r\nright rb B2\r\n");
    ASSERT_EQ(ui.lines.size(), 5u);
    EXPECT_EQ(ui.lines[3].rfind("System Time: ", 0), 0u);
    EXPECT_EQ(ui.lines[3].find('\n'), std::string::npos);
    ui.lines[3] = "";
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"NO.1 ~~~~~~~~~~~~~~~~~~~~ Generating Insoles", "Phone Number : B2",
                                                  "PID 32", "", " "}));
    EXPECT_EQ(raised, std::vector<platform::WindowHandle>{42}) << "Strandel raised";
    EXPECT_EQ(started, (std::vector<std::string>{files + "/Hostlet/Formlet", files + "/Hostlet/Formlet"}));
    ASSERT_EQ(state->pending.size(), 1u);
    EXPECT_EQ(state->pending[0].printid, 33);
}

// On a full disk the hand-off is kept in memory and named in the log list,
// announced only once it is written.
TEST_F(Pending, InsoleJobOnAFullDiskIsWrittenOnceThereIsRoom) {
    const std::string server = files + "/Hostlet";
    if (!mount_small(server)) GTEST_SKIP() << "no tmpfs can be mounted here (root needed)";
    start_service();
    restart();
    add_program("Formlet");
    write_all(server + "/filler", std::string(128 * 1024, 'x'));  // written till the disk is full
    service->push(kJobPath, answer(200, job_reply("A001", "x/A1_1.bmp", R"(,"left":"la","right":"ra")")));
    poll();
    file_cycle();
    EXPECT_FALSE(common::file_exists(server + "/insole parameters.txt"));
    EXPECT_TRUE(ui.has_line("Job 31 (A1): insole parameters.txt cannot be written"));
    EXPECT_FALSE(ui.has_line("NO.1"));
    std::remove((server + "/filler").c_str());
    file_cycle();
    EXPECT_EQ(read_all(server + "/insole parameters.txt"), "left la\r\nright ra A1\r\n");
    EXPECT_TRUE(ui.has_line("NO.1 ~~~~~~~~~~~~~~~~~~~~ Generating Insoles"));
}

// The server directory moved away for a while and back: the pending file's
// write and its removal are tried again on later file cycles, offline too,
// and never taken as done before they are.
TEST_F(Pending, FailedWriteOrRemovalOfThePendingFileIsTriedAgain) {
    const std::string server = files + "/Hostlet", away = files + "/Hostlet.away";
    auto move_away = [&](bool gone) {
        ASSERT_EQ(gone ? rename(server.c_str(), away.c_str()) : rename(away.c_str(), server.c_str()), 0);
    };
    auto offline_cycle = [&] {
        state->online = false;
        station::retry_pending_jobs(*state);
    };
    service->set_default("/Mirel/a.gcode", answer(503, "down"));
    move_away(true);
    service->push(kJobPath, answer(200, job_reply("C1", "a.gcode")));
    poll();
    offline_cycle();
    move_away(false);
    EXPECT_FALSE(common::file_exists(pending_file));
    offline_cycle();
    EXPECT_NE(read_all(pending_file).find("a.gcode"), std::string::npos) << "written once it could be";

    move_away(true);
    service->set_default("/Mirel/a.gcode", answer(200, "A"));
    state->online = true;
    station::retry_pending_jobs(*state);
    EXPECT_EQ(read_all(files + "/a.gcode"), "A");
    offline_cycle();
    move_away(false);
    EXPECT_TRUE(common::file_exists(pending_file)) << "the job is done, but the file was not there to remove";
    offline_cycle();
    EXPECT_FALSE(common::file_exists(pending_file)) << "removed once it could be";
}

TEST_F(Pending, JobsAreTriedInOrderAndAFailingOneStarvesNoOther) {
    service->set_default("/Mirel/a.gcode", answer(503, "down"));
    service->set_default("/Mirel/b.gcode", answer(503, "down"));
    service->push(kJobPath, answer(200, job_reply("C1", "a.gcode", "", 1)));
    poll();
    service->push(kJobPath, answer(200, job_reply("C1", "b.gcode", "", 2)));
    poll();
    service->set_default("/Mirel/b.gcode", answer(200, "B"));
    service->clear_requests();
    state->online = true;
    file_cycle();  // a first, as it came first; its failure ends the cycle's tries
    file_cycle();  // then b, now behind nothing that fails
    std::vector<std::string> order;
    for (const auto& q : service->requests())
        if (q.path == "/Mirel/a.gcode" || q.path == "/Mirel/b.gcode") order.push_back(q.path);
    EXPECT_EQ(order, (std::vector<std::string>{"/Mirel/a.gcode", "/Mirel/b.gcode", "/Mirel/a.gcode"}));
    EXPECT_EQ(read_all(files + "/b.gcode"), "B");
    ASSERT_EQ(state->pending.size(), 1u);
    EXPECT_EQ(state->pending[0].printid, 1);
}

// A pending file of an older station with an entry whose name is longer
// than a file name can be, beside a bracing job: only the entry goes, and
// the file as it was is kept aside.
TEST_F(Pending, NameThatCanNeverBePlacedIsRefusedAndCostsNoOtherJob) {
    const std::string mobile(250, '9');
    const std::string old_text =
        R"({"jobs":[{"printid":8,"done":"Slipper Downloaded ~","files":[{"value":"s/l.gcode","name":")" + mobile +
        R"(_iLeft.gcode"}]},{"printid":7,"done":"External Bracing Downloaded ~","files":[{"value":"brace.gcode","name":"brace.gcode"}]}]})";
    write_all(pending_file, old_text);
    restart();
    EXPECT_TRUE(ui.has_line("pending downloads.json: job 1: \"" + mobile + "_iLeft.gcode\" is no usable file name: set aside"));
    EXPECT_EQ(read_all(pending_file + ".unreadable"), old_text);
    service->set_default("/Mirel/brace.gcode", answer(200, "brace"));
    file_cycle();
    EXPECT_EQ(read_all(files + "/brace.gcode"), "brace");
    EXPECT_FALSE(common::file_exists(pending_file));
}

TEST_F(Pending, UnreadableFileIsMovedAsideBesideAnOlderCopyOrElseNeverWrittenOver) {
    write_all(pending_file, "{broken");
    write_all(pending_file + ".unreadable", "older copy");
    restart();
    EXPECT_EQ(read_all(pending_file + ".unreadable"), "older copy");
    EXPECT_EQ(read_all(pending_file + ".unreadable.2"), "{broken");
    service->set_default("/Mirel/x.gcode", answer(503, "down"));
    service->push(kJobPath, answer(200, job_reply("C1", "x.gcode")));
    poll();
    EXPECT_NE(read_all(pending_file).find("x.gcode"), std::string::npos) << "a new failing job is written";

    // A file that cannot be moved aside is not written over; the job waits in
    // memory, the log list says so once, and the write is tried again.
    write_all(pending_file, "{broken again");
    static bool moves_fail;
    moves_fail = true;
    move_hook = [](const std::string& from, const std::string& to) {
        return moves_fail ? platform::MoveResult::failed : platform::rename_no_replace(from, to);
    };
    restart();
    ui.lines.clear();
    service->push(kJobPath, answer(200, job_reply("C1", "x.gcode")));
    poll();
    file_cycle();
    EXPECT_EQ(read_all(pending_file), "{broken again");
    size_t said = 0;
    for (const auto& l : ui.lines) said += l.rfind("pending downloads.json cannot be written: 1 job(s) kept in memory", 0) == 0;
    EXPECT_EQ(said, 1u);
    moves_fail = false;
    file_cycle();
    EXPECT_EQ(read_all(pending_file + ".unreadable.3"), "{broken again");
    EXPECT_NE(read_all(pending_file).find("x.gcode"), std::string::npos);
}

// A download that takes its time does not hold the file cycle: records go
// up, the image list is written and Strandel started while it runs. temp/,
// deleted while the server runs, is made again for it.
TEST_F(Download, SlowDownloadLetsTheFileCycleRun) {
    state->online = true;
    ASSERT_EQ(rmdir((files + "/temp").c_str()), 0);
    write_all(insole + "/a.bmp", "BM");
    write_all(files + "/output/A12_36-L.gcode.1", "");
    service->set_default("/Mirel/servlet/braceRecord.php", answer(200, "{}"));
    testsupport::FakeResponse slow = answer(200, std::string(600, 'G'));
    slow.drip_ms = 2;
    service->set_default("/Mirel/slow.gcode", slow);
    // The record upload runs inside the transfer; on a loaded machine it can
    // hold it past the fixture's one-second stall window.
    state->transfer.stall_seconds = 30;
    advance_ms(8100);  // a file cycle falls due as the download starts
    bracing("slow.gcode");
    poll();
    EXPECT_EQ(read_all(files + "/slow.gcode"), std::string(600, 'G'));
    EXPECT_TRUE(ui.has_line("Folder " + files + "/temp was missing: made again"));
    EXPECT_TRUE(ui.has_line("External Bracing Downloaded ~"));
    EXPECT_GE(ui.selects, 1);
    EXPECT_EQ(service->count("/Mirel/servlet/braceRecord.php"), 1u);
    EXPECT_TRUE(common::file_exists(insole + "/Bmp_List.txt"));
    EXPECT_EQ(started, std::vector<std::string>{files + "/Hostlet/Strandel"});
}

// ---- TLS ------------------------------------------------------------------------------

class Tls : public stationtest::StationTest {};

// Only a trusted certificate issued for the host is spoken to, unless the
// station turns verification off, and then says so.
TEST_F(Tls, UntrustedOrMisnamedCertificateIsRefusedUnlessVerificationIsOff) {
    const struct {
        const char* conf;  // after the key number and service address; nullptr: the fixture's own
        const char* alt_name;  // nullptr: issued for 127.0.0.1
        int code;
    } cases[] = {{"", nullptr, 0}, {"tls_verify = 0\n", nullptr, 200}, {nullptr, "DNS:station.example", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alt_name ? c.alt_name : c.conf);
        if (c.alt_name) start_service("", c.alt_name);
        else start_service();
        ui.lines.clear();
        if (c.conf) write_conf("key_number = 1\nservice_url = " + service->base_url() + "\n" + c.conf);
        make_server();
        service->set_default(kJobPath, answer(200, kIdle));
        EXPECT_EQ(station::poll_print_token(*state), c.code);
        EXPECT_EQ(service->requests().size(), c.code ? 1u : 0u);
        EXPECT_EQ(ui.has_line("WARNING: tls_verify = 0"), c.code != 0);
    }
}

}  // namespace
