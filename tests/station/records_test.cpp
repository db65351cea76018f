// Output records: names cut into parts, the upload body, and which files the
// upload cycle removes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "common/json_util.h"
#include "station/records.h"
#include "tests/station/station_fixture.h"

namespace {

using station::BraceRecord;
using station::parse_record_name;
using stationtest::names_in;
using stationtest::write_all;

// The first character is dropped even when a digit; the number is atoi's,
// saturating; long parts are kept whole; the first ".gcode." with something
// after it ends the type.
TEST(RecordNames, PartsAreCutAtTheFirstSeparators) {
    const std::string z(300, 'z');
    const struct {
        std::string name;
        BraceRecord want;
    } cases[] = {{"A12_36-L.gcode.t1", {12, "36", "L", "t1"}},
                 {"912_36-L.gcode.1", {12, "36", "L", "1"}},
                 {"Bx7_40-R-2.gcode.5", {0, "40", "R-2", "5"}},
                 {"A1_2-a.gcode.b.gcode.c", {1, "2", "a", "b.gcode.c"}},
                 {"A99999999999999999999_1-L.gcode.1", {2147483647, "1", "L", "1"}},
                 {"A1_" + z + "-" + z + ".gcode." + z, {1, z, z, z}}};
    for (const auto& c : cases) {
        BraceRecord r;
        ASSERT_TRUE(parse_record_name(c.name, r)) << c.name;
        EXPECT_TRUE(r.no == c.want.no && r.size == c.want.size && r.type == c.want.type &&
                    r.timestamp == c.want.timestamp) << c.name;
    }
}

TEST(RecordNames, NonRecords) {
    BraceRecord r;
    for (const char* name : {"X5_40.gcode.1-2", "readme.txt", "A12_36-L.gcode.", "_12_36-L.gcode.1",
                             "A-1_36.gcode.1", "A12-36_L.gcode.1", "A1236-L.gcode.1", "A12_36L.gcode.1", ""})
        EXPECT_FALSE(parse_record_name(name, r)) << name;
}

TEST(RecordBody, ValidJsonWhateverTheBytesOfTheName) {
    // Expected texts worked out by hand from the UTF-8 rules: a byte that
    // starts no well-formed sequence becomes the code point of its value.
    const struct {
        const char* part;
        const char* in_body;
    } cases[] = {
        {"3\"6", "3\\\"6"},
        {"L\\", "L\\\\"},
        {"t\x01", "t\\u0001"},
        {"\xE9t\xE9", "\\u00e9t\\u00e9"},                  // Latin-1
        {"\xC3\xA9", "\xC3\xA9"},                            // UTF-8 stays byte for byte
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},            // four bytes
        {"a\xC3", "a\\u00c3"},                               // cut short
        {"\xC0\xAF", "\\u00c0\\u00af"},                     // overlong
        {"\xED\xA0\x80", "\\u00ed\\u00a0\\u0080"},           // a surrogate
        {"\xF4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},  // past U+10FFFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        const std::string body = station::build_records_body({BraceRecord{1, "36", "L", c.part}});
        EXPECT_EQ(body, std::string("{\"arrays\":[{\"type\":\"L\",\"no\":\"1\",\"size\":\"36\",\"timestamp\":\"") +
                            c.in_body + "\"}]}");
    }
}

// The numbers of the records in an upload body.
std::vector<int> record_numbers(const std::string& body) {
    std::vector<int> out;
    common::JsonPtr j = common::parse_json(body);
    const cJSON* arrays = j ? cJSON_GetObjectItem(j.get(), "arrays") : nullptr;
    for (const cJSON* item = arrays ? arrays->child : nullptr; item; item = item->next)
        out.push_back(std::atoi(cJSON_GetObjectItem(item, "no")->valuestring));
    return out;
}

class RecordUpload : public stationtest::StationTest {
protected:
    void online_server() {
        start_service();
        make_server();
        state->online = true;
    }
    std::string out() const { return files + "/output"; }
    const std::string path = "/Mirel/servlet/braceRecord.php";
};

TEST_F(RecordUpload, TakenRecordsAndNonRecordsAreRemoved) {
    online_server();
    service->set_default(path, {});
    for (const char* n : {"B7_40-R.gcode.2", "A12_36-L.gcode.1", "X5_40.gcode.1-2", "readme.txt", "A12_36-L.gcode."})
        write_all(out() + "/" + n, "x");
    mkdir((out() + "/sub").c_str(), 0777);

    EXPECT_EQ(station::upload_brace_records(*state), 2);
    auto reqs = service->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].body,
              "{\"arrays\":[{\"type\":\"L\",\"no\":\"12\",\"size\":\"36\",\"timestamp\":\"1\"},"
              "{\"type\":\"R\",\"no\":\"7\",\"size\":\"40\",\"timestamp\":\"2\"}]}");
    EXPECT_EQ(names_in(out()), std::vector<std::string>{"sub"}) << "directories stay, every file goes";
    EXPECT_TRUE(common::file_exists(files + "/output_tmp"));
    EXPECT_TRUE(ui.has_line("Brace Data Uploading !"));
    EXPECT_EQ(platform::current_dir(), out());
}

// A read-only output directory: each record goes up once, and a new file of the same name, once the old one is gone, is
// a new record.
TEST_F(RecordUpload, TakenRecordThatCannotBeRemovedIsNeverSentAgain) {
    if (!mount_small(out())) GTEST_SKIP() << "no tmpfs can be mounted here (root needed)";
    online_server();
    service->set_default(path, {});
    for (const char* n : {"A12_36-L.gcode.1", "B7_40-R.gcode.2"}) write_all(out() + "/" + n, "x");
    ASSERT_TRUE(remount(out(), MS_RDONLY));
    for (int cycle = 0; cycle < 3; ++cycle) station::upload_brace_records(*state);
    EXPECT_EQ(service->count(path), 1u);
    EXPECT_EQ(names_in(out()).size(), 2u);
    ASSERT_TRUE(remount(out(), 0));
    station::upload_brace_records(*state);  // the removal tried again, quietly
    EXPECT_TRUE(names_in(out()).empty());
    write_all(out() + "/A12_36-L.gcode.1", "x");
    station::upload_brace_records(*state);
    EXPECT_EQ(service->count(path), 2u);
}

TEST_F(RecordUpload, ServiceRefusingEverythingKeepsEveryRecordUntilItTakesThem) {
    online_server();
    // A maintenance page for every request, whole batch and each record alone.
    service->set_default(path, testsupport::answer(404, "<html>maintenance</html>"));
    EXPECT_EQ(station::upload_brace_records(*state), 0);
    EXPECT_TRUE(service->requests().empty()) << "nothing to send";
    write_all(out() + "/A1_36-L.gcode.1", "x");
    EXPECT_EQ(station::upload_brace_records(*state), 1);  // one record alone
    write_all(out() + "/B2_40-R.gcode.2", "x");
    write_all(out() + "/C3_38-L.gcode.3", "x");
    write_all(out() + "/readme.txt", "x");
    EXPECT_EQ(station::upload_brace_records(*state), 3);
    EXPECT_EQ(station::upload_brace_records(*state), 3);
    EXPECT_EQ(names_in(out()), (std::vector<std::string>{"A1_36-L.gcode.1", "B2_40-R.gcode.2", "C3_38-L.gcode.3"}));
    EXPECT_FALSE(common::file_exists(files + "/output_refused"));
    EXPECT_TRUE(ui.has_line("Brace records kept for the next cycle: upload answered 404"));
    EXPECT_FALSE(ui.has_line("Brace Data Uploading !"));

    service->set_default(path, testsupport::answer(200, "ok"));
    service->clear_requests();
    EXPECT_EQ(station::upload_brace_records(*state), 3);
    EXPECT_TRUE(names_in(out()).empty());
    ASSERT_EQ(service->requests().size(), 1u) << "all three in one batch";
    EXPECT_EQ(record_numbers(service->requests()[0].body), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(ui.has_line("Brace Data Uploading !"));
}

// One by one after a refused batch, each record goes as soon as the service
// takes it (what is on disk while record 2 is answered is what a crash then
// would leave); no upload starts once the pass has had its time, yet the one
// under way keeps its own timeout (the default, far past the pass) and is
// answered; a failing service keeps the rest. Over the cycles a slow service
// takes each record exactly once.
TEST_F(RecordUpload, SlowServiceTakesEachRecordExactlyOnce) {
    online_server();
    state->transfer.record_pass_ms = 1000;
    for (int i = 1; i <= 5; ++i) write_all(out() + "/A" + std::to_string(i) + "_36-L.gcode.1", "x");
    std::vector<std::string> on_disk_at_2;
    int batches = 0;
    service->set_responder(path, [&](const std::string& body) {
        const std::vector<int> nos = record_numbers(body);
        if (nos.size() > 1 && ++batches <= 2) return testsupport::answer(400, "one is bad", 300);
        if (nos == std::vector<int>{2}) on_disk_at_2 = names_in(out());
        if (nos == std::vector<int>{3}) return testsupport::answer(503, "gone down", 300);
        return testsupport::answer(200, "ok", nos == std::vector<int>{2} ? 600 : 300);
    });
    station::upload_brace_records(*state);
    EXPECT_EQ(service->count(path), 3u) << "the batch, records 1 and 2; record 3 would start past the limit";
    EXPECT_EQ(on_disk_at_2.size(), 4u);
    station::upload_brace_records(*state);
    EXPECT_EQ(service->count(path), 5u) << "the batch and record 3, which failed: 4 and 5 wait";
    EXPECT_EQ(names_in(out()).size(), 3u);
    station::upload_brace_records(*state);
    EXPECT_TRUE(names_in(out()).empty());
    std::vector<int> taken;
    for (const auto& q : service->requests())
        if (q.status == 200)
            for (int no : record_numbers(q.body)) taken.push_back(no);
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(taken, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(common::file_exists(files + "/output_refused"));
}

TEST_F(RecordUpload, RecordRefusedForGoodIsSetAsideAndTheOthersGoUp) {
    start_service();
    // This service takes a body only when it is JSON and every text in it is plain ASCII.
    service->set_responder(path, [](const std::string& body) {
        common::JsonPtr j = common::parse_json(body);
        const cJSON* arrays = j ? cJSON_GetObjectItem(j.get(), "arrays") : nullptr;
        if (!cJSON_IsArray(arrays)) return testsupport::answer(400, "not JSON");
        for (const cJSON* item = arrays->child; item; item = item->next)
            for (unsigned char c : std::string(cJSON_GetObjectItem(item, "timestamp")->valuestring))
                if (c >= 0x80) return testsupport::answer(400, "ASCII only");
        return testsupport::answer(200, "ok");
    });
    make_server();
    state->online = true;
    const std::string latin1 = "B2_40-R.gcode.\xE9t\xE9";
    for (const std::string& n : {std::string("A1_36-L.gcode.1"), latin1, std::string("C3_38-L.gcode.3")})
        write_all(out() + "/" + n, "x");

    EXPECT_EQ(station::upload_brace_records(*state), 3);
    auto reqs = service->requests();
    ASSERT_EQ(reqs.size(), 4u) << "the batch, then each record alone";
    EXPECT_EQ(reqs[0].status, 400);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(record_numbers(reqs[i].body), std::vector<int>{i});
    EXPECT_EQ((std::vector<int>{reqs[1].status, reqs[2].status, reqs[3].status}), (std::vector<int>{200, 400, 200}));
    EXPECT_TRUE(names_in(out()).empty());
    const std::string aside = files + "/output_refused";
    EXPECT_EQ(names_in(aside), std::vector<std::string>{latin1});
    EXPECT_TRUE(ui.has_line("Brace record refused (answer 400), set aside: " + aside + "/" + latin1));
    EXPECT_TRUE(ui.has_line("Brace Data Uploading !"));
    EXPECT_FALSE(ui.has_line("Brace records kept"));

    EXPECT_EQ(station::upload_brace_records(*state), 0);
    EXPECT_EQ(service->count(path), 4u) << "nothing is sent again";
}

// Offline, or the service gone, records are kept; with no output directory
// the one above is not read instead.
TEST_F(RecordUpload, OfflineOrUnreachableKeepsRecords) {
    write_conf("key_number = 1\nservice_url = https://127.0.0.1:1\n");
    make_server();
    write_all(out() + "/A12_36-L.gcode.1", "x");
    state->online = false;
    EXPECT_EQ(station::upload_brace_records(*state), 1);
    state->online = true;  // the check passed but the service is gone
    EXPECT_EQ(station::upload_brace_records(*state), 1);
    EXPECT_EQ(names_in(out()), std::vector<std::string>{"A12_36-L.gcode.1"});
    std::rename((out() + "/A12_36-L.gcode.1").c_str(), (files + "/A12_36-L.gcode.1").c_str());
    rmdir(out().c_str());
    EXPECT_EQ(station::upload_brace_records(*state), 0);
}

}  // namespace
