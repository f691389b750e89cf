// Edits of one value in a text: exact texts over hand-written files, every
// value of the project's own texts changed and changed back, refusals, and
// the file form.
#include "owners.h"
#include "process.h"
#include "recording_hooks.h"
#include "serialized.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using EditTest = HookedTest;

// A location starting with a slash is a pointer, any other a dotted path;
// no value removes. The new text, or "refused: " and the reason.
std::string edit(const std::string &text, const std::string &location, const char *value,
                 JSON_Error *error = nullptr)
{
    JSON_Error ignored;
    JSON_Error *report = error ? error : &ignored;
    ValuePtr given = value ? value_of(value) : nullptr;
    const bool pointer = !location.empty() && location[0] == '/';
    size_t length = 0;
    TextPtr edited(
        value ? (pointer ? json_edit_pointer_set : json_edit_dotset)(
                    text.data(), text.size(), location.c_str(), given.get(), &length, report)
              : (pointer ? json_edit_pointer_remove : json_edit_dotremove)(
                    text.data(), text.size(), location.c_str(), &length, report));
    if (!edited)
        return std::string("refused: ") + report->reason;
    EXPECT_EQ(strlen(edited.get()), length);
    return std::string(edited.get(), length);
}

// `text` with the first `from` in it made `to`.
std::string with(std::string text, const std::string &from, const std::string &to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

const std::string FORWARDER = R"(/* Packet forwarder: radio front end and gateway identity */
{
    "SX130x_conf": {
        "lorawan_public": true,
        "clksrc": 0, /* radio_1 provides the clock */
        "radio_0": {
            "enable": true,
            "freq": 867500000, /* radio 0 */
            "tx_gain_lut": []
        }
    },
    // Identity, set at first boot
    "gateway_conf": {
        "gateway_ID": "AA555A0000000000",
        "server_address": "localhost",
        "serv_port_up": 1700,
        "serv_port_down": 1700
        // keepalive_interval is optional
    }
}
)";
const std::string TABS_CRLF =
    "{\r\n\t\"radio\": {\r\n\t\t\"freq\": 868100000\r\n\t},\r\n\t\"log\": \"syslog\"\r\n}\r\n";
const std::string ONE_LINE = R"({
  "dns": ["192.168.10.1", "9.9.9.9"],
  "window": { "start": "02:00" },
  "opts": {}
})";

TEST_F(EditTest, ChangesOnlyWhatTheLayoutAroundThePlaceCalls)
{
    const struct {
        const std::string &text;
        const char *location;
        const char *value;  // null: remove
        const char *from;
        const char *to;
    } cases[] = {
        {FORWARDER, "SX130x_conf.radio_0.freq", "868100000", "867500000,", "868100000,"},
        {FORWARDER, "gateway_conf.keepalive_interval", "10", "\"serv_port_down\": 1700\n",
         "\"serv_port_down\": 1700,\n        \"keepalive_interval\": 10\n"},
        {FORWARDER, "gateway_conf.beacon.period", "128", "\"serv_port_down\": 1700\n",
         "\"serv_port_down\": 1700,\n        \"beacon\": {\n            \"period\": 128\n"
         "        }\n"},
        {FORWARDER, "gateway_conf.server_address", R"("lns.example.net/api")", R"("localhost")",
         R"("lns.example.net/api")"},
        {FORWARDER, "gateway_conf.gateway_ID", nullptr,
         "        \"gateway_ID\": \"AA555A0000000000\",\n", ""},
        {FORWARDER, "gateway_conf.server_address", nullptr,
         "        \"server_address\": \"localhost\",\n", ""},
        {FORWARDER, "gateway_conf.serv_port_down", nullptr,
         "1700,\n        \"serv_port_down\": 1700\n", "1700\n"},
        {FORWARDER, "SX130x_conf.clksrc", nullptr,
         "        \"clksrc\": 0, /* radio_1 provides the clock */\n", ""},
        {FORWARDER, "/SX130x_conf/radio_0/tx_gain_lut/-", R"({"rf_power":12,"pa_gain":0})", "[]",
         R"([{"rf_power": 12, "pa_gain": 0}])"},
        {TABS_CRLF, "radio.channels", "[1,2]", "\t\t\"freq\": 868100000\r\n",
         "\t\t\"freq\": 868100000,\r\n\t\t\"channels\": [\r\n\t\t\t1,\r\n\t\t\t2\r\n\t\t]\r\n"},
        {TABS_CRLF, "log", nullptr, "\t},\r\n\t\"log\": \"syslog\"\r\n", "\t}\r\n"},
        {ONE_LINE, "dns", R"(["1.1.1.1","8.8.8.8"])", R"(["192.168.10.1", "9.9.9.9"])",
         R"(["1.1.1.1", "8.8.8.8"])"},
        {ONE_LINE, "window.end", R"("04:00")", R"({ "start": "02:00" })",
         R"({ "start": "02:00", "end": "04:00" })"},
        {ONE_LINE, "opts.gain", "2.5", "{}", R"({"gain": 2.5})"},
        {FORWARDER, "gateway_conf.serv_port_up", "100000", "1700,", "100000,"},
        {ONE_LINE, "log.file.max_kb", "512", "\"opts\": {}\n",
         "\"opts\": {},\n  \"log\": {\n    \"file\": {\n      \"max_kb\": 512\n    }\n  }\n"},
        {ONE_LINE, "/dns/0", R"("10.0.0.1")", R"([")", R"(["10.0.0.1", ")"},
        {ONE_LINE, "/dns/0", nullptr, R"("192.168.10.1", )", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.location) +
                     (c.value ? " = " + std::string(c.value) : " removed"));
        EXPECT_EQ(edit(c.text, c.location, c.value), with(c.text, c.from, c.to));
    }
}

TEST_F(EditTest, RefusesWhatItCannotPlaceAndSaysWhere)
{
    const std::string hiding = "{\"a\": 1, // see /etc/*.json\n\"b\": 2} */";
    const std::string deep = "a.b.c.d.e.f.g.h.i.j.k.l.m.n.o.p.q.r.s.t";
    const struct {
        const std::string &text;
        std::string location;
        const char *value;
        const char *reason;
        size_t line, column;
    } cases[] = {
        {FORWARDER, "gateway_conf.gateway_ID.x", "1",
         "not an object, and the location goes on inside it", 14, 23},
        {FORWARDER, "gateway_conf.gateway", nullptr, "nothing at the location to remove", 13, 21},
        {ONE_LINE, "/dns/3", "1", "an array with fewer items than the index", 2, 10},
        {ONE_LINE, "/nothing/x", "1", "no container on the way to the location", 1, 1},
        {ONE_LINE, deep, "1", "a location of more than 19 steps", 0, 0},
        // A quotation mark in a line comment opens a string literal for the
        // comment blanking; the new member's "/*" then opens a comment.
        {"{\n  \"a\": 1 // the \"quoted\n}", "b", R"("x /* y")",
         "the edited text would not be read whole: a comment that opens here hides text "
         "from the document",
         2, 9},
        {"{\"a\": 1, \"b\": -nan}", "a", "2",
         "the document holds a not-a-number, which no read-back can check", 1, 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.location);
        JSON_Error error;
        EXPECT_EQ(edit(c.text, c.location, c.value, &error), std::string("refused: ") + c.reason);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.column, c.column);
    }
    EXPECT_EQ(edit(hiding, "a", "2").rfind("refused: ", 0), 0u) << "a text hiding a member";
}

TEST_F(EditTest, FileFormReplacesTheFileOnlyWithAnEditedText)
{
    TempDir dir;
    const std::string path = dir.write("global_conf.json", FORWARDER);
    const std::string edited = with(FORWARDER, "AA555A0000000000", "0016C001FF10A235");
    ValuePtr id = value_of(R"("0016C001FF10A235")");
    JSON_Error error;
    ASSERT_EQ(json_edit_file_dotset(path.c_str(), "gateway_conf.gateway_ID", id.get(), &error),
              JSONSuccess)
        << error.reason;
    EXPECT_EQ(read_file_bytes(path), edited);
    EXPECT_EQ(json_edit_file_dotset(path.c_str(), "gateway_conf.gateway_ID.x", id.get(), &error),
              JSONFailure);
    EXPECT_EQ(read_file_bytes(path), edited);
    EXPECT_EQ(json_edit_file_dotset(dir.file("missing.json").c_str(), "a", id.get(), &error),
              JSONFailure);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_STREQ(error.reason, strerror(ENOENT));
}

TEST_F(EditTest, RunningOutOfMemoryGivesNothingAndLeavesNothing)
{
    ValuePtr beacon = value_of(R"({"period":128,"freq_hz":869525000})");
    for (size_t failing = 1;; failing++) {
        recording_hooks::fail_allocation(failing);
        TextPtr edited(json_edit_dotset(FORWARDER.data(), FORWARDER.size(), "gateway_conf.beacon",
                                        beacon.get(), nullptr, nullptr));
        if (!recording_hooks::failure_fired()) {
            EXPECT_TRUE(edited);
            break;
        }
        EXPECT_FALSE(edited) << "allocation " << failing;
    }
    recording_hooks::fail_allocation(0);
}

// Every value of `value`, as pointers from `location`.
void collect_pointers(const JSON_Value *value, const std::string &location,
                      std::vector<std::string> &pointers)
{
    const JSON_Object *object = json_object(value);
    for (size_t i = 0; i < json_object_get_count(object); i++) {
        std::string name = json_object_get_name(object, i), token;
        for (char c : name)
            token += c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c);
        const std::string member = location + "/" + token;
        pointers.push_back(member);
        collect_pointers(json_object_get_value(object, name.c_str()), member, pointers);
    }
    const JSON_Array *array = json_array(value);
    for (size_t i = 0; i < json_array_get_count(array); i++) {
        const std::string item = location + "/" + std::to_string(i);
        pointers.push_back(item);
        collect_pointers(json_array_get_value(array, i), item, pointers);
    }
}

// Each value of the project's texts changed to a string and changed back:
// only that value's text changes, and a scalar written as an edit writes it
// (storing it unchanged gives the text back) gives the text itself back; an
// item inserted and removed again leaves the text itself.
TEST_F(EditTest, EveryValueChangedAndChangedBackKeepsEveryOtherByte)
{
    // Appended: GCC 12 warns falsely (-Warray-bounds) on chains of +.
    std::vector<std::string> files = {std::string(EXAMPLES_DIR).append("/global_conf.json")};
    for (const char *corpus : {"parse_fuzzer", "roundtrip_fuzzer", "parse_comments_fuzzer"}) {
        std::string directory = std::string(EXAMPLES_DIR).append("/../fuzz/corpus/").append(corpus);
        for (const std::string &name : directory_entries(directory))
            files.push_back(std::string(directory).append("/").append(name));
    }
    const std::string marker = "\xE2\x98\x83 changed";
    size_t values = 0, exact = 0;
    for (const std::string &file : files) {
        const std::string text = read_file_bytes(file);
        if (json_verify_lossless_with_comments(text.c_str()) != JSONSuccess)
            continue;
        ValuePtr document(json_parse_string_with_comments(text.c_str()));
        if (!json_value_equals(document.get(), document.get()))
            continue;  // a not-a-number: every edit refused, as a table row shows
        std::vector<std::string> pointers;
        collect_pointers(document.get(), "", pointers);
        for (const std::string &pointer : pointers) {
            SCOPED_TRACE(file + " " + pointer);
            const JSON_Value *value = json_pointer_get(document.get(), pointer.c_str());
            const std::string original = text_of(value);
            const std::string changed = edit(text, pointer, ("\"" + marker + "\"").c_str());
            const size_t at = changed.find(marker) - 1;
            ASSERT_LT(at, changed.size()) << changed;
            EXPECT_EQ(changed.substr(0, at), text.substr(0, at));
            values++;
            if (json_array(json_pointer_get(document.get(),
                                            pointer.substr(0, pointer.rfind('/')).c_str()))) {
                EXPECT_EQ(edit(changed, pointer, nullptr), text);
                exact++;
                continue;
            }
            const size_t tail = changed.size() - at - marker.size() - 2;
            ASSERT_LE(tail, text.size());
            EXPECT_EQ(changed.substr(changed.size() - tail), text.substr(text.size() - tail));
            const std::string back = edit(changed, pointer, original.c_str());
            if (!json_object(value) && !json_array(value) &&
                edit(text, pointer, original.c_str()) == text) {
                EXPECT_EQ(back, text);
                exact++;
            }
            EXPECT_EQ(back.substr(0, at), text.substr(0, at));
            EXPECT_EQ(back.substr(back.size() - tail), text.substr(text.size() - tail));
        }
    }
    EXPECT_GT(values, 150u);
    EXPECT_GT(exact, values * 3 / 4);
}

}  // namespace
