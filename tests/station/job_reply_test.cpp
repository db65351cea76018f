// Reading station.conf, job and insole-data replies: job kinds,
// cancellations, and the names a job may write under.
#include <gtest/gtest.h>

#include "common/job_name.h"
#include "station/config.h"
#include "station/insole_data.h"
#include "station/job_poll.h"

namespace {

using station::JobKind;
using station::JobReply;
using station::ReplyVerdict;

ReplyVerdict parse(const std::string& body, JobReply& r, std::string& problem) {
    return station::parse_job_reply(body, r, problem);
}

// The result code must be the number 200; broken replies are dropped with the reason.
TEST(JobReply, BrokenRepliesAreDroppedWithTheReason) {
    struct Case {
        const char* body;
        const char* problem;
        ReplyVerdict verdict = ReplyVerdict::malformed;
    } cases[] = {
        {R"({"resultCode":404,"sleep":1,"printid":0})", "", ReplyVerdict::not_200},
        {R"({"resultCode":200.5,"sleep":1,"printid":0})", "", ReplyVerdict::not_200},
        {R"({"resultCode":2e2,"sleep":1,"printid":0})", "", ReplyVerdict::accepted},
        {R"({"resultCode":"200","sleep":1,"printid":0})", "key \"resultCode\" is not a number"},
        {"<html>busy</html>", "not a JSON object"},
        {"[200]", "not a JSON object"},
        {"", "not a JSON object"},
        {R"({"resultCode":200,"sleep":5,"printid":7,"type":"C1","token":"t","sdate":"s","edate":"e","mobile":"m"})",
         "missing key \"bmpfile\""},
        {R"({"resultCode":200,"sleep":5,"printid":7,"type":7,"token":"t","sdate":"s","edate":"e","bmpfile":"b","mobile":"m"})",
         "key \"type\" is not a text"},
        {R"({"resultCode":200,"sleep":5,"printid":7,"type":"b001","token":"t","sdate":"s","edate":"e","bmpfile":"b","mobile":"m"})",
         "missing key \"bmpfile2\""},
        {R"({"resultCode":200,"sleep":5,"printid":7,"type":"A","token":"t","sdate":"s","edate":"e","bmpfile":"b","mobile":"m","left":"l"})",
         "missing key \"right\""},
        {R"({"resultCode":200,"sleep":5,"printid":7,"type":"A","token":"t","sdate":"s","edate":"e","bmpfile":"b","mobile":null,"left":"l","right":"r"})",
         "key \"mobile\" is not a text"},
    };
    for (const Case& c : cases) {
        JobReply r;
        r.sleep = 99;
        std::string problem;
        EXPECT_EQ(parse(c.body, r, problem), c.verdict) << c.body;
        EXPECT_EQ(problem, c.problem) << c.body;
        if (c.verdict == ReplyVerdict::malformed) { EXPECT_EQ(r.sleep, 99) << "a dropped reply changes nothing"; }
    }
}

// No job needs only the code and printid, in any case. An interval under a
// second, or none at all, would have the endpoint asked on every tick: the
// reply stands, with the design's 17 s.
TEST(JobReply, NoJobWithASleepBelowASecondOrNoneTakesTheDefault) {
    const struct {
        const char* sleep;
        int taken;
    } cases[] = {{R"(,"Sleep":1)", 1}, {R"(,"sleep":2.7)", 2}, {R"(,"sleep":0)", 17}, {R"(,"sleep":-4)", 17},
                 {R"(,"sleep":0.5)", 17}, {R"(,"sleep":"5")", 17}, {R"(,"sleep":null)", 17}, {"", 17}};
    for (const auto& c : cases) {
        JobReply r;
        std::string problem;
        ASSERT_EQ(parse(std::string(R"({"RESULTCODE":200,"PrintId":0)") + c.sleep + "}", r, problem),
                  ReplyVerdict::accepted) << c.sleep;
        EXPECT_EQ(r.kind, JobKind::none);
        EXPECT_EQ(r.sleep, c.taken) << c.sleep;
        EXPECT_EQ(r.sleep_problem.empty(), c.taken != 17) << c.sleep;
    }
}

TEST(JobReply, Kinds) {
    const struct {
        const char* type;
        JobKind kind;
    } cases[] = {{"Cxyz", JobKind::bracing}, {"C", JobKind::bracing},    {"c001", JobKind::insole},
                 {"b001", JobKind::slipper}, {"B001", JobKind::insole},  {"b0011", JobKind::insole},
                 {"", JobKind::insole}};
    for (const auto& c : cases) EXPECT_EQ(station::job_kind(c.type), c.kind) << c.type;
}

TEST(JobReply, CancelTestAndName) {
    for (const char* name : {"orders/A1_7.cancel", "abc.cancel"}) EXPECT_TRUE(station::is_cancel(name)) << name;
    // The dot must not be the first character.
    for (const char* name : {"abc.CANCEL", ".cancel", "a.cancelled", "a.cancel.bmp"})
        EXPECT_FALSE(station::is_cancel(name)) << name;
    // A '/' in first place is not a directory cut.
    const char* names[][2] = {{"orders/A1_7.cancel", "A1"}, {"abc.cancel", "abc.cancel"},
                              {"x/y/Q9_1_2.cancel", "Q9_1"}, {"_7.cancel", "_7.cancel"}, {"/A_1.cancel", "/A"}};
    for (const auto& n : names) EXPECT_EQ(station::cancel_name(n[0]), n[1]) << n[0];
}

TEST(JobPlan, NamesFromRepliesStayInsideTheStation) {
    JobReply r;
    r.kind = JobKind::bracing;
    r.bmpfile = "../../etc/brace.gcode";
    auto p = station::plan_job(r);
    ASSERT_EQ(p.downloads.size(), 1u);
    EXPECT_EQ(p.downloads[0].local_name, "brace.gcode");
    EXPECT_EQ(p.downloads[0].file_value, r.bmpfile);

    r.bmpfile = "orders\\..\\x.gcode";
    EXPECT_EQ(station::plan_job(r).downloads[0].local_name, "x.gcode");

    for (const char* bad : {"", ".", "..", "a/..", "dir/", "a\\.", "bad\nname"}) {
        r.bmpfile = bad;
        p = station::plan_job(r);
        EXPECT_TRUE(p.downloads.empty()) << bad;
        EXPECT_EQ(p.problems.size(), 1u) << bad;
    }
    r.bmpfile = std::string(256, 'x');
    EXPECT_TRUE(station::plan_job(r).downloads.empty()) << "longer than a file name can be";
}

TEST(JobPlan, SlipperFilesAreNamedByMobileWhileTheyCanBeFileNames) {
    JobReply r;
    r.kind = JobKind::slipper;
    r.mobile = "up/../0912";
    auto p = station::plan_job(r);
    ASSERT_EQ(p.downloads.size(), 2u);
    EXPECT_EQ(p.downloads[0].local_name + " " + p.downloads[1].local_name, "0912_iLeft.gcode 0912_iRight.gcode");
    // "_iRight.gcode" is 13 bytes: a mobile of 242 makes a name of 255, the
    // longest a file can have; one more and the job is refused as it comes.
    r.mobile = std::string(242, '9');
    EXPECT_EQ(station::plan_job(r).downloads.size(), 2u);
    for (const std::string& bad : {std::string(243, '9'), std::string("..")}) {
        r.mobile = bad;
        p = station::plan_job(r);
        EXPECT_TRUE(p.downloads.empty());
        EXPECT_EQ(p.problems.size(), 1u);
    }
}

// The longest job name Fitmire saves and the path program prints is handed
// over; one byte more, or a name that would leave the insole directory, is
// refused with a line naming it. No value may add lines to the hand-off file.
TEST(JobPlan, HandOffAndCancelFiles) {
    JobReply r;
    r.kind = JobKind::insole;
    r.left = "L";
    r.right = "R 2";
    const std::string longest(common::kMaxJobNameBytes, '9');
    for (const std::string& mobile : {longest, longest + "9", std::string("../x"), std::string("a b")}) {
        r.mobile = mobile;
        const auto p = station::plan_job(r);
        EXPECT_EQ(p.write_handoff, mobile == longest) << mobile;
        EXPECT_EQ(p.problems.size() == 1 && p.problems[0].find("\"" + mobile + "\"") != std::string::npos,
                  mobile != longest) << mobile;
    }
    r.mobile = "A1";
    r.bmpfile = "orders/A1_7.cancel";
    r.left = "L\r\nright evil";
    auto p = station::plan_job(r);
    EXPECT_FALSE(p.write_handoff);

    r.left = "L";
    r.mobile = "../..";
    p = station::plan_job(r);
    EXPECT_TRUE(p.cancel);
    EXPECT_TRUE(p.cancel_files.empty());
    r.mobile = std::string(240, '9');  // + "_A1_iRight.cancel" is past a file name
    p = station::plan_job(r);
    EXPECT_TRUE(p.cancel_files.empty());
    // One line for the hand-off that cannot name a job, one for the cancel files.
    EXPECT_FALSE(p.write_handoff);
    EXPECT_EQ(p.problems.size(), 2u);
}

TEST(InsoleReply, ResultCodeMustBeTheText200) {
    const char* cases[][3] = {  // reply, accepted ("y"), problem
        {R"({"resultCode":"200","ldata":[1,2]})", "y", ""}, {R"({"RESULTCODE":"200"})", "y", ""},
        {R"({"resultCode":"404"})", "", ""}, {R"({"resultCode":200})", "", "key \"resultCode\" is not a text"},
        {"not json", "", "not a JSON object"}, {"{}", "", "missing key \"resultCode\""}};
    for (const auto& c : cases) {
        std::string problem;
        EXPECT_EQ(station::accept_insole_reply(c[0], problem), *c[1] == 'y') << c[0];
        EXPECT_EQ(problem, c[2]) << c[0];
    }
}

TEST(InsoleReply, StoredTextEndsAtNulWithCrLfLines) {
    EXPECT_EQ(station::insole_info_text("{\"a\":1,\n\"b\":2}"), "{\"a\":1,\r\n\"b\":2}");
    EXPECT_EQ(station::insole_info_text(std::string("ab\0cd", 5)), "ab");
}

TEST(StationConfig, ReadsEveryKeyWithCommentsAndBlankLines) {
    station::Config c;
    std::string err;
    ASSERT_TRUE(station::parse_config("# station 7\n\nkey_number = 4242\r\nservice_url = https://svc.example:8443/\n"
                             "check_url=http://check.example/generate_204\n  tls_verify = 1  \n",
                             c, err)) << err;
    EXPECT_EQ(c.key_number, 4242u);
    EXPECT_EQ(c.service_url, "https://svc.example:8443");
    EXPECT_EQ(c.check_url, "http://check.example/generate_204");
    EXPECT_TRUE(c.tls_verify && c.ca_file.empty());
    // A byte-order mark first, as Windows editors save the file, is no part of
    // the first key. Optional keys left out or empty: TLS verified, the service itself checked.
    for (const char* optional : {"", "check_url =\nca_file =\n"}) {
        station::Config o;
        ASSERT_TRUE(station::parse_config(std::string("\xEF\xBB\xBFkey_number = 4294967295\nservice_url = https://[::1]:9000\n") +
                                 optional, o, err)) << err;
        EXPECT_EQ(o.key_number, 4294967295u);
        EXPECT_TRUE(o.tls_verify && o.ca_file.empty());
        EXPECT_EQ(o.check_url, "https://[::1]:9000");
    }
}

TEST(StationConfig, FaultsNameTheLineAndKey) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"key_number = 4242\nservice_url https://a\n", "station.conf line 2: \"service_url https://a\" is not of the form key = value"},
        {"key_number = 4294967296\nservice_url = https://a\n", "station.conf line 1: key 'key_number'"},
        {"key_number = -1\nservice_url = https://a\n", "station.conf line 1: key 'key_number'"},
        {"key_number = 12a\nservice_url = https://a\n", "station.conf line 1: key 'key_number'"},
        {"key_number = 1\nservice_url = http://a\n", "station.conf line 2: key 'service_url'"},
        {"key_number = 1\nservice_url = https://a/Mirel\n", "station.conf line 2: key 'service_url'"},
        {"key_number = 1\nservice_url = https://a:99999\n", "station.conf line 2: key 'service_url'"},
        {"key_number = 1\nservice_url = https://a\n\ntls_verify = yes\n", "station.conf line 4: key 'tls_verify'"},
        {"key_number = 1\nservice_url = https://a\nca_file = /no/such/ca.pem\n", "station.conf line 3: key 'ca_file'"},
        {"key_number = 1\nservice_url = https://a\ncolour = red\n", "station.conf line 3: key 'colour': unknown key"},
        {"key_number = 1\nkey_number = 2\nservice_url = https://a\n", "station.conf line 2: key 'key_number': given twice"},
        {"key_number =\nservice_url = https://a\n", "station.conf line 1: key 'key_number': no value"},
        {"service_url = https://a\n", "station.conf: key 'key_number' missing"},
        {"key_number = 5\n", "station.conf: key 'service_url' missing"},
        {"key_number = 1\nservice_url = https://a\ncheck_url = ftp://a\n", "station.conf line 3: key 'check_url'"},
        {"key_number = 1\n\xEF\xBB\xBFservice_url = https://a\n", "station.conf line 2: key '\xEF\xBB\xBFservice_url'"},
    };
    for (const Case& c : cases) {
        station::Config out;
        out.key_number = 77;
        std::string err;
        EXPECT_FALSE(station::parse_config(c.text, out, err)) << c.text;
        EXPECT_EQ(err.compare(0, std::string(c.expected).size(), c.expected), 0) << err;
        EXPECT_EQ(out.key_number, 77u) << "a refused file leaves the old settings";
    }
}

}  // namespace
