// The job poll against the stand-in service: each job kind, cancellations,
// downloads that fail in every way, and TLS.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/job_name.h"
#include "station/job_poll.h"
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

std::string job_reply(const std::string& type, const std::string& bmpfile, const std::string& extra = "") {
    return R"({"resultCode":200,"token":"tk","sdate":"s","edate":"e","sleep":4,"printid":31,"type":")" + type +
           R"(","bmpfile":")" + bmpfile + R"(","mobile":"A1")" + extra + "}";
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

TEST_F(JobPoll, RequestCarriesTheKeyNumberAndPrintidZeroOnlyChangesTheMode) {
    service->push(kJobPath, answer(200, kIdle));
    EXPECT_EQ(poll(), 200);
    auto reqs = service->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].method, "POST");
    EXPECT_EQ(reqs[0].body, "{\"orbane\":\"4242\"}");
    EXPECT_EQ(reqs[0].content_type, "application/x-www-form-urlencoded");
    EXPECT_TRUE(state->insole_mode);
    EXPECT_EQ(state->sleep_seconds, 6);
    EXPECT_EQ(state->last_printid, 0);
    EXPECT_TRUE(ui.lines.empty());
    EXPECT_TRUE(started.empty());
}

TEST_F(JobPoll, OtherResultCodesAndBrokenRepliesChangeNothing) {
    for (const char* body : {R"({"resultCode":500,"sleep":6,"printid":0})", R"({"resultCode":"200","sleep":6,"printid":0})",
                             "<html>", R"({"resultCode":200,"sleep":6})"}) {
        service->push(kJobPath, answer(200, body));
        EXPECT_EQ(poll(), 0) << body;
        EXPECT_FALSE(state->insole_mode) << body;
        EXPECT_EQ(state->sleep_seconds, 17) << body;
    }
    service->push(kJobPath, answer(503, kIdle));
    EXPECT_EQ(poll(), 503);
    EXPECT_FALSE(state->insole_mode);
}

TEST_F(JobPoll, SlowServiceGivesCodeZero) {
    service->push(kJobPath, answer(200, kIdle, 2500));
    EXPECT_EQ(poll(), 0);
    EXPECT_FALSE(state->insole_mode);
}

TEST_F(JobPoll, BracingDownloadLandsUnderItsLastName) {
    service->push(kJobPath, answer(200, job_reply("Cxyz", "orders/brace 1.gcode")));
    service->set_default("/Mirel/orders/brace 1.gcode", answer(200, "G1 X1\n"));
    EXPECT_EQ(poll(), 200);
    EXPECT_EQ(read_all(files + "/brace 1.gcode"), "G1 X1\n");
    EXPECT_TRUE(names_in(files + "/temp").empty());
    EXPECT_TRUE(ui.has_line("External Bracing Downloaded ~"));
    EXPECT_GE(ui.selects, 1);
    EXPECT_EQ(state->job_count, 0);
}

TEST_F(JobPoll, SlipperLeftIsCompleteBeforeRight) {
    service->push(kJobPath, answer(200, job_reply("b001", "s/l.gcode", R"(,"bmpfile2":"s/r.gcode")")));
    service->set_default("/Mirel/s/l.gcode", answer(200, "left"));
    service->set_default("/Mirel/s/r.gcode", answer(200, "right"));
    poll();
    EXPECT_EQ(read_all(files + "/A1_iLeft.gcode"), "left");
    EXPECT_EQ(read_all(files + "/A1_iRight.gcode"), "right");
    auto reqs = service->requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[1].path, "/Mirel/s/l.gcode");
    EXPECT_EQ(reqs[2].path, "/Mirel/s/r.gcode");
    EXPECT_EQ(ui.lines, (std::vector<std::string>{"type : b001", "Slipper Downloaded ~"}));
}

TEST_F(JobPoll, InsoleJobWritesHandOffStartsFormletAndAnnounces) {
    add_program("Formlet");
    window_open = true;
    service->push(kJobPath, answer(200, job_reply("A001", "x/13800_1.bmp", R"(,"left":"255 3","right":"250 4")")));
    poll();
    EXPECT_EQ(read_all(files + "/Hostlet/insole parameters.txt"), "left 255 3\r\nright 250 4 A1\r\n");
    EXPECT_FALSE(common::file_exists(files + "/Hostlet/insole parameters.txt.tmp"));
    EXPECT_EQ(started, std::vector<std::string>{files + "/Hostlet/Formlet"});
    ASSERT_EQ(ui.lines.size(), 5u);
    EXPECT_EQ(ui.lines[0], "NO.1 ~~~~~~~~~~~~~~~~~~~~ Generating Insoles");
    EXPECT_EQ(ui.lines[1], "Phone Number : A1");
    EXPECT_EQ(ui.lines[2], "PID 31");
    EXPECT_EQ(ui.lines[3].compare(0, 13, "System Time: "), 0);
    EXPECT_EQ(ui.lines[3].find('\n'), std::string::npos);
    EXPECT_EQ(ui.lines[4], " ");
    EXPECT_EQ(looked_for, std::vector<std::string>{"Strandel"});
    EXPECT_EQ(raised, std::vector<platform::WindowHandle>{42});
    EXPECT_EQ(state->last_printid, 31);
    EXPECT_EQ(state->sleep_seconds, 4);
}

TEST_F(JobPoll, StrandelFoundLineIsUtf8) {
    add_program("Formlet");
    window_open = true;
    service->push(kJobPath, answer(200, job_reply("A001", "x/13800_1.bmp", R"(,"left":"l","right":"r")")));
    testing::internal::CaptureStdout();
    poll();
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Strandel 執行中\n"), std::string::npos) << out;
}

TEST_F(JobPoll, MissingFormletIsLogged) {
    service->push(kJobPath, answer(200, job_reply("A001", "x.bmp", R"(,"left":"l","right":"r")")));
    poll();
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(ui.has_line("Formlet missing: " + files + "/Hostlet/Formlet"));
    EXPECT_TRUE(common::file_exists(files + "/Hostlet/insole parameters.txt"));
}

TEST_F(JobPoll, CancellationLeavesTwoEmptyFilesAndNoAnnouncement) {
    add_program("Formlet");
    service->push(kJobPath, answer(200, job_reply("A001", "orders/A1_7.cancel", R"(,"left":"l","right":"r")")));
    poll();
    EXPECT_TRUE(common::file_exists(files + "/Hostlet/insole parameters.txt"));
    EXPECT_EQ(started.size(), 1u);
    EXPECT_EQ(read_all(files + "/A1_A1_iLeft.cancel"), "");
    EXPECT_TRUE(common::file_exists(files + "/A1_A1_iLeft.cancel"));
    EXPECT_TRUE(common::file_exists(files + "/A1_A1_iRight.cancel"));
    EXPECT_EQ(state->job_count, 0);
    EXPECT_TRUE(ui.lines.empty());
    EXPECT_TRUE(raised.empty());
}

TEST_F(JobPoll, UnsafeNamesWriteNothingOutsideTheStation) {
    service->push(kJobPath, answer(200, job_reply("C1", "..")));
    poll();
    EXPECT_TRUE(state->insole_mode) << "the reply itself is sound";
    EXPECT_TRUE(ui.has_line("Job 31: bmpfile \"..\" is no usable file name"));
    EXPECT_EQ(service->requests().size(), 1u) << "nothing is fetched for it";
}

// The longest job name Fitmire saves and the path program prints is handed
// over; one byte more, or a name that would leave the insole directory, is
// refused with a log line naming it.
TEST_F(JobPoll, InsoleJobNameIsHandedOverOnlyWithinTheStationLimit) {
    const std::string longest(common::kMaxJobNameBytes, '9');
    for (const std::string& mobile : {longest, longest + "9", std::string("../x"), std::string("a b")}) {
        SCOPED_TRACE(mobile);
        const std::string handoff = files + "/Hostlet/insole parameters.txt";
        std::remove(handoff.c_str());
        ui.lines.clear();
        service->push(kJobPath,
                      answer(200, R"({"resultCode":200,"token":"t","sdate":"s","edate":"e","sleep":4,"printid":31,)"
                                  R"("type":"A001","bmpfile":"x.bmp","left":"0.2 245","right":"0.3 250","mobile":")" +
                                      mobile + "\"}"));
        poll();
        if (mobile == longest) {
            EXPECT_EQ(read_all(handoff), "left 0.2 245\r\nright 0.3 250 " + mobile + "\r\n");
        } else {
            EXPECT_FALSE(common::file_exists(handoff));
            bool named = false;
            for (const std::string& l : ui.lines)
                named |= l.rfind("Job 31: mobile \"" + mobile + "\" cannot name an insole job", 0) == 0;
            EXPECT_TRUE(named);
        }
    }
}

// ---- downloads that fail --------------------------------------------------------

class Download : public JobPoll {
protected:
    void bracing(const std::string& file) { service->push(kJobPath, answer(200, job_reply("C1", file))); }
    void expect_nothing_left(const std::string& name) {
        EXPECT_FALSE(common::file_exists(files + "/" + name));
        EXPECT_TRUE(names_in(files + "/temp").empty());
        EXPECT_TRUE(ui.has_line("Download failed: " + name));
        EXPECT_FALSE(ui.has_line("External Bracing Downloaded ~"));
    }
};

TEST_F(Download, NotFoundIsAFailureRetriedAFewTimesWithAPause) {
    bracing("gone.gcode");
    poll();
    expect_nothing_left("gone.gcode");
    EXPECT_EQ(service->count("/Mirel/gone.gcode"), 3u);
    EXPECT_EQ(pauses.size(), 2u);
}

TEST_F(Download, RetrySucceedsAfterAFailure) {
    bracing("b.gcode");
    service->push("/Mirel/b.gcode", answer(500, "oops"));
    service->set_default("/Mirel/b.gcode", answer(200, "good"));
    poll();
    EXPECT_EQ(read_all(files + "/b.gcode"), "good");
    EXPECT_TRUE(names_in(files + "/temp").empty());
}

TEST_F(Download, RedirectIsFollowed) {
    bracing("old.gcode");
    testsupport::FakeResponse moved = answer(302, "");
    moved.location = "/Mirel/new.gcode";
    service->set_default("/Mirel/old.gcode", moved);
    service->set_default("/Mirel/new.gcode", answer(200, "moved here"));
    poll();
    EXPECT_EQ(read_all(files + "/old.gcode"), "moved here");
}

TEST_F(Download, BadTransfersLeaveNothingBehind) {
    state->transfer.download_attempts = 1;
    const int default_timeout = state->transfer.download_timeout_ms;
    state->transfer.max_download_bytes = 50000;
    testsupport::FakeResponse loop = answer(302, "");
    loop.location = "/Mirel/loop.gcode";  // endless redirects
    testsupport::FakeResponse cut = answer(200, std::string(10000, 'G'));
    cut.truncate_at = 5000;
    testsupport::FakeResponse stall = answer(200, std::string(10000, 'G'));
    stall.truncate_at = 100;
    stall.stall_ms = 2500;
    testsupport::FakeResponse trickle = answer(200, std::string(100, 'G'));
    trickle.drip_ms = 200;  // well above the stall limit of 1 byte/s, 20 s in all
    const struct {
        const char* name;
        testsupport::FakeResponse reply;
        int timeout_ms;
    } cases[] = {{"loop.gcode", loop, default_timeout},
                 {"cut.gcode", cut, default_timeout},
                 {"stall.gcode", stall, default_timeout},
                 {"trickle.gcode", trickle, 1500},  // given up at the download timeout
                 {"long.gcode", answer(200, std::string(50001, 'G')), default_timeout}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        state->transfer.download_timeout_ms = c.timeout_ms;
        bracing(c.name);
        service->set_default(std::string("/Mirel/") + c.name, c.reply);
        poll();
        expect_nothing_left(c.name);
    }
    // Exactly at the limit is whole.
    bracing("short.gcode");
    service->set_default("/Mirel/short.gcode", answer(200, std::string(50000, 'G')));
    poll();
    EXPECT_EQ(read_all(files + "/short.gcode"), std::string(50000, 'G'));
}

TEST_F(Download, ExistingFinalNameIsNeverReplacedAndTheNewFileWaitsInTemp) {
    write_all(files + "/b.gcode", "waiting for the printer");
    bracing("b.gcode");
    service->set_default("/Mirel/b.gcode", answer(200, "new"));
    poll();
    EXPECT_EQ(read_all(files + "/b.gcode"), "waiting for the printer");
    EXPECT_EQ(read_all(files + "/temp/b.gcode"), "new");
    EXPECT_TRUE(ui.has_line("Download left in temp/, b.gcode exists: " + files + "/temp/b.gcode"));
    EXPECT_TRUE(state->pending.empty()) << "the file came: nothing to fetch again";
    // The same job again: neither the old file nor the one kept in temp/ is written over.
    service->set_default("/Mirel/b.gcode", answer(200, "newer"));
    bracing("b.gcode");
    poll();
    EXPECT_EQ(read_all(files + "/b.gcode"), "waiting for the printer");
    EXPECT_EQ(read_all(files + "/temp/b.gcode"), "new");
    EXPECT_EQ(read_all(files + "/temp/b.gcode.2"), "newer");
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
    };
    state->transfer.download_attempts = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        service->clear_requests();
        service->push(kJobPath, answer(200, job_reply("C1", c.value)));
        poll();
        auto reqs = service->requests();
        ASSERT_EQ(reqs.size(), 2u);
        EXPECT_EQ(reqs[1].target, c.target);
    }
    // The service decodes %41 to A: the file asked for is the one it serves.
    service->set_default("/Mirel/orders/aAb.gcode", answer(200, "A"));
    service->push(kJobPath, answer(200, job_reply("C1", "orders/a%41b.gcode")));
    poll();
    EXPECT_EQ(read_all(files + "/a%41b.gcode"), "A");
}

TEST_F(Download, FailedJobIsKeptAndFetchedOnALaterCycleAfterARestart) {
    add_program("Strandel");
    service->set_default(kJobPath, answer(200, kIdle));
    service->set_default("/Mirel/late.gcode", answer(503, "down"));
    service->push(kJobPath, answer(200, job_reply("C1", "late.gcode")));
    poll();
    EXPECT_TRUE(ui.has_line("Download failed: late.gcode"));
    const std::string pending_file = files + "/Hostlet/pending downloads.json";
    EXPECT_NE(read_all(pending_file).find("late.gcode"), std::string::npos);

    auto file_cycle = [&] {
        advance_ms(8100);
        station::server_tick(*state);
    };
    file_cycle();  // still down: one more try, the job stays
    EXPECT_EQ(service->count("/Mirel/late.gcode"), 4u);
    EXPECT_TRUE(common::file_exists(pending_file));

    make_server();  // a restart reads what is still to come
    ui.lines.clear();
    service->set_default("/Mirel/late.gcode", answer(200, "G1 late\n"));
    file_cycle();
    EXPECT_EQ(read_all(files + "/late.gcode"), "G1 late\n");
    EXPECT_TRUE(ui.has_line("External Bracing Downloaded ~"));
    EXPECT_FALSE(common::file_exists(pending_file));
    file_cycle();
    EXPECT_EQ(service->count("/Mirel/late.gcode"), 5u) << "fetched once more, then no longer";
}

TEST_F(Download, MissingTempFolderFailsCleanly) {
    rmdir((files + "/temp").c_str());
    bracing("b.gcode");
    service->set_default("/Mirel/b.gcode", answer(200, "x"));
    poll();
    EXPECT_FALSE(common::file_exists(files + "/b.gcode"));
    EXPECT_TRUE(ui.has_line("Download failed: b.gcode"));
}

// ---- TLS ------------------------------------------------------------------------------

class Tls : public stationtest::StationTest {};

TEST_F(Tls, UntrustedCertificateIsRefusedByDefault) {
    start_service();
    write_conf("key_number = 1\nservice_url = " + service->base_url() + "\n");  // system certificates only
    make_server();
    service->set_default(kJobPath, answer(200, kIdle));
    EXPECT_EQ(station::poll_print_token(*state), 0);
    EXPECT_TRUE(service->requests().empty());
    EXPECT_FALSE(state->insole_mode);
}

TEST_F(Tls, VerificationOffIsExplicit) {
    start_service();
    write_conf("key_number = 1\nservice_url = " + service->base_url() + "\ntls_verify = 0\n");
    make_server();
    service->set_default(kJobPath, answer(200, kIdle));
    EXPECT_EQ(station::poll_print_token(*state), 200);
    EXPECT_TRUE(ui.has_line("WARNING: tls_verify = 0"));
}

TEST_F(Tls, HostNameIsChecked) {
    start_service("", "DNS:station.example");  // trusted, but not issued for 127.0.0.1
    make_server();
    service->set_default(kJobPath, answer(200, kIdle));
    EXPECT_EQ(station::poll_print_token(*state), 0);
    EXPECT_TRUE(service->requests().empty());
}

}  // namespace
