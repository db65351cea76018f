// station.conf: what a good file gives, and how a bad one is reported.
#include <gtest/gtest.h>

#include "station/config.h"
#include "station/scheduler.h"
#include "station/transfer.h"
#include "tests/station/station_fixture.h"

namespace {

using station::Config;
using station::parse_config;

TEST(StationConfig, ReadsEveryKeyWithCommentsAndBlankLines) {
    Config c;
    std::string err;
    ASSERT_TRUE(parse_config("# station 7\n\nkey_number = 4242\r\nservice_url = https://svc.example:8443/\n"
                             "check_url=http://check.example/generate_204\n  tls_verify = 1  \n",
                             c, err)) << err;
    EXPECT_EQ(c.key_number, 4242u);
    EXPECT_EQ(c.service_url, "https://svc.example:8443");
    EXPECT_EQ(c.check_url, "http://check.example/generate_204");
    EXPECT_TRUE(c.tls_verify && c.ca_file.empty());
    // A byte-order mark first, as Windows editors save the file, is no part of
    // the first key. Optional keys left out or empty: TLS verified, the service itself checked.
    for (const char* optional : {"", "check_url =\nca_file =\n"}) {
        Config o;
        ASSERT_TRUE(parse_config(std::string("\xEF\xBB\xBFkey_number = 4294967295\nservice_url = https://[::1]:9000\n") +
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
        Config out;
        out.key_number = 77;
        std::string err;
        EXPECT_FALSE(parse_config(c.text, out, err)) << c.text;
        EXPECT_EQ(err.compare(0, std::string(c.expected).size(), c.expected), 0) << err;
        EXPECT_EQ(out.key_number, 77u) << "a refused file leaves the old settings";
    }
}

class StationConfigAtStart : public stationtest::StationTest {};

TEST_F(StationConfigAtStart, MissingOrMalformedFileIsReportedAndNoCallIsMade) {
    for (const char* said : {"station.conf: cannot read", "station.conf line 3: key 'tls_verify'"}) {
        make_server();
        EXPECT_FALSE(state->config_ok);
        EXPECT_TRUE(ui.has_line(said));
        EXPECT_FALSE(station::check_internet(*state));
        EXPECT_EQ(ui.net_status, "OFF");
        write_conf("key_number = 1\nservice_url = https://127.0.0.1:1\ntls_verify = 2\n");
    }
}

}  // namespace
