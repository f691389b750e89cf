// Every allocating operation, with each of its allocations made to fail in
// turn: each failure gives the documented result, leaves the input as the
// caller may expect and leaks nothing; the first run that meets no failure
// gives the normal result.
#include "owners.h"
#include "process.h"
#include "recording_hooks.h"
#include "serialized.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string CONFIG_PATH = std::string(EXAMPLES_DIR) + "/global_conf.json";

// Runs one call with allocation `k` of that call made to fail.
class Trial {
public:
    explicit Trial(size_t k) : k_(k) {}

    template <typename Call>
    auto run(Call call)
    {
        recording_hooks::reset_records();
        recording_hooks::fail_allocation(k_);
        auto result = call();
        fired_ = recording_hooks::failure_fired();
        recording_hooks::fail_allocation(0);
        return result;
    }
    // True when an allocation failed during the call.
    bool fired() const { return fired_; }

private:
    size_t k_;
    bool fired_ = false;
};

bool released_during_call(const void *block)
{
    const std::vector<void *> &releases = recording_hooks::releases();
    return std::find(releases.begin(), releases.end(), block) != releases.end();
}

// ---- Operations: each attempt builds its own input, runs the call through
// the trial, checks the outcome and releases everything it made.

struct Operation {
    std::string name;
    std::function<void(Trial &)> attempt;
};

// Operations that return a new value or text: null on failure. Whatever they
// leave alive shows in the sweep's count of live blocks.
Operation value_producer(std::string name, std::function<JSON_Value *()> produce,
                         std::function<void(const JSON_Value *)> expect_result)
{
    return {name, [=](Trial &trial) {
                ValuePtr value(trial.run(produce));
                if (trial.fired()) {
                    EXPECT_EQ(value, nullptr);
                } else {
                    ASSERT_NE(value, nullptr);
                    expect_result(value.get());
                }
            }};
}

Operation value_like(std::string name, std::function<JSON_Value *()> produce,
                     const JSON_Value *expected)
{
    return value_producer(name, produce, [=](const JSON_Value *value) {
        EXPECT_TRUE(json_value_equals(value, expected)) << text_of(value);
    });
}

Operation text_producer(std::string name, std::function<char *()> produce, std::string expected)
{
    return {name, [=](Trial &trial) {
                TextPtr text(trial.run(produce));
                if (trial.fired()) {
                    EXPECT_EQ(text, nullptr);
                } else {
                    ASSERT_NE(text, nullptr);
                    EXPECT_EQ(text.get(), expected);
                }
            }};
}

// A change to a freshly parsed document. The parser leaves every container
// full (capacity = count), so any addition has to grow one.
struct Change {
    std::string name;
    // The value the caller hands over, for the forms that take one.
    std::function<JSON_Value *()> caller_value;
    std::function<JSON_Status(JSON_Value *document, JSON_Value *value)> apply;
    std::function<void(const JSON_Value *document)> expect_done;
    // Dotted stores: the path whose missing objects may stay after a failure.
    std::string created_path;
};

// The documents a failed change may leave: the original, or for a dotted
// store the original plus the missing objects of the path up to any segment.
std::vector<ValuePtr> states_after_failure(const std::string &document_text,
                                           const std::string &created_path)
{
    std::vector<ValuePtr> states;
    states.emplace_back(json_parse_string(document_text.c_str()));
    for (size_t dot = created_path.find('.'); dot != std::string::npos;
         dot = created_path.find('.', dot + 1)) {
        std::string prefix = created_path.substr(0, dot);
        if (json_object_dotget_object(json_object(states.front().get()), prefix.c_str()))
            continue;
        ValuePtr state(json_value_deep_copy(states.back().get()));
        EXPECT_EQ(json_object_dotset_value(json_object(state.get()), prefix.c_str(),
                                           json_value_init_object()),
                  JSONSuccess);
        states.push_back(std::move(state));
    }
    return states;
}

// Position in `states` of the one equal to `document`, or the count.
size_t position_among(const JSON_Value *document, const std::vector<ValuePtr> &states)
{
    size_t i = 0;
    while (i < states.size() && json_value_equals(document, states[i].get()) != 1)
        i++;
    return i;
}

Operation change_of(const std::string &document_text, Change change)
{
    // A later failure comes after at least as much progress: it may leave
    // more of the path's objects behind, never fewer.
    auto objects_left = std::make_shared<size_t>(0);
    return {change.name, [=](Trial &trial) {
                ValuePtr document(json_parse_string(document_text.c_str()));
                ASSERT_NE(document, nullptr);
                JSON_Value *value = change.caller_value ? change.caller_value() : nullptr;
                ValuePtr value_copy(json_value_deep_copy(value));
                JSON_Status status = trial.run([&] { return change.apply(document.get(), value); });
                std::vector<ValuePtr> states =
                    states_after_failure(document_text, change.created_path);
                if (!trial.fired()) {
                    ASSERT_EQ(status, JSONSuccess);
                    change.expect_done(document.get());
                    EXPECT_EQ(*objects_left, states.size() - 1)
                        << "failed stores dropped the objects they had made";
                    return;
                }
                EXPECT_EQ(status, JSONFailure);
                size_t left = position_among(document.get(), states);
                ASSERT_LT(left, states.size())
                    << "changed by a failed call: " << text_of(document.get());
                if (left == 0) {
                    EXPECT_EQ(text_of(document.get(), true), document_text) << "members moved";
                }
                EXPECT_GE(left, *objects_left) << "fewer objects left than by an earlier failure";
                *objects_left = left;
                if (value) {
                    // Still the caller's: alive and whole.
                    ASSERT_FALSE(released_during_call(value)) << "caller's value released";
                    EXPECT_TRUE(json_value_equals(value, value_copy.get()));
                    json_value_free(value);
                }
            }};
}

// ---- The operations and their inputs

// UTF-8 text of two, three and four bytes per character.
const char LONG_TEXT[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e vom Funkturm, \xE2\x82\xAC 42 \xF0\x9F\x93\xA1";
const char NEW_SUBTREE[] = R"({"site": {"name": "north", "ids": [1, 2, 3]}, "tags": ["a", "b"]})";
// Removes, merges into and adds members at several levels.
const char MERGE_PATCH[] =
    R"({"gateway": {"location": null, "antenna": {"gain_dbi": 3, "cable": null}},
    "network": {"lora": {"tx_power_dbm": 27}}})";
// The last three objects on this path exist nowhere: a store makes them.
const char DEEP_PATH[] = "network.lora.tuning.per_region.eu868.override";
const char CHANNELS[] = "network.lora.channels";
constexpr size_t CHANNEL_COUNT = 4;

JSON_Value *new_subtree()
{
    return json_parse_string(NEW_SUBTREE);
}

JSON_Object *root_of(JSON_Value *document)
{
    return json_object(document);
}
JSON_Array *channels_of(JSON_Value *document)
{
    return json_object_dotget_array(json_object(document), CHANNELS);
}

// Where each kind of store leaves its value.
const JSON_Value *member(const JSON_Value *document, const char *path)
{
    return json_object_dotget_value(json_object(document), path);
}
const JSON_Value *appended(const JSON_Value *document)
{
    const JSON_Array *channels = json_object_dotget_array(json_object(document), CHANNELS);
    EXPECT_EQ(json_array_get_count(channels), CHANNEL_COUNT + 1);
    return json_array_get_value(channels, CHANNEL_COUNT);
}
const JSON_Value *replaced(const JSON_Value *document)
{
    const JSON_Array *channels = json_object_dotget_array(json_object(document), CHANNELS);
    EXPECT_EQ(json_array_get_count(channels), CHANNEL_COUNT);
    return json_array_get_value(channels, 0);
}

void is_text(const JSON_Value *value)
{
    EXPECT_STREQ(json_string(value), LONG_TEXT);
}
void is_number(const JSON_Value *value)
{
    EXPECT_EQ(json_number(value), 868.5);
}
void is_true(const JSON_Value *value)
{
    EXPECT_EQ(json_value_get_boolean(value), 1);
}
void is_null(const JSON_Value *value)
{
    EXPECT_EQ(json_type(value), JSONNull);
}

// Short names keep one store of the table on a line.
using Doc = JSON_Value *;
using ConstDoc = const JSON_Value *;

std::vector<Change> changes(const JSON_Value *subtree, const JSON_Value *patch)
{
    auto is_subtree = [subtree](ConstDoc value) {
        EXPECT_TRUE(json_value_equals(value, subtree)) << text_of(value);
    };
    return {
        {"json_object_set_value", new_subtree,
         [](Doc doc, Doc value) { return json_object_set_value(root_of(doc), "site_info", value); },
         [=](ConstDoc doc) { is_subtree(member(doc, "site_info")); }, ""},
        {"json_object_set_string", nullptr,
         [](Doc doc, Doc) { return json_object_set_string(root_of(doc), "motto", LONG_TEXT); },
         [](ConstDoc doc) { is_text(member(doc, "motto")); }, ""},
        {"json_object_set_number", nullptr,
         [](Doc doc, Doc) { return json_object_set_number(root_of(doc), "mhz", 868.5); },
         [](ConstDoc doc) { is_number(member(doc, "mhz")); }, ""},
        {"json_object_set_boolean", nullptr,
         [](Doc doc, Doc) { return json_object_set_boolean(root_of(doc), "armed", 7); },
         [](ConstDoc doc) { is_true(member(doc, "armed")); }, ""},
        {"json_object_set_null", nullptr,
         [](Doc doc, Doc) { return json_object_set_null(root_of(doc), "unset"); },
         [](ConstDoc doc) { is_null(member(doc, "unset")); }, ""},

        {"json_array_append_value", new_subtree,
         [](Doc doc, Doc value) { return json_array_append_value(channels_of(doc), value); },
         [=](ConstDoc doc) { is_subtree(appended(doc)); }, ""},
        {"json_array_append_string", nullptr,
         [](Doc doc, Doc) { return json_array_append_string(channels_of(doc), LONG_TEXT); },
         [](ConstDoc doc) { is_text(appended(doc)); }, ""},
        {"json_array_append_number", nullptr,
         [](Doc doc, Doc) { return json_array_append_number(channels_of(doc), 868.5); },
         [](ConstDoc doc) { is_number(appended(doc)); }, ""},
        {"json_array_append_boolean", nullptr,
         [](Doc doc, Doc) { return json_array_append_boolean(channels_of(doc), 1); },
         [](ConstDoc doc) { is_true(appended(doc)); }, ""},
        {"json_array_append_null", nullptr,
         [](Doc doc, Doc) { return json_array_append_null(channels_of(doc)); },
         [](ConstDoc doc) { is_null(appended(doc)); }, ""},

        {"json_array_replace_value", new_subtree,
         [](Doc doc, Doc value) { return json_array_replace_value(channels_of(doc), 0, value); },
         [=](ConstDoc doc) { is_subtree(replaced(doc)); }, ""},
        {"json_array_replace_string", nullptr,
         [](Doc doc, Doc) { return json_array_replace_string(channels_of(doc), 0, LONG_TEXT); },
         [](ConstDoc doc) { is_text(replaced(doc)); }, ""},
        {"json_array_replace_number", nullptr,
         [](Doc doc, Doc) { return json_array_replace_number(channels_of(doc), 0, 868.5); },
         [](ConstDoc doc) { is_number(replaced(doc)); }, ""},
        {"json_array_replace_boolean", nullptr,
         [](Doc doc, Doc) { return json_array_replace_boolean(channels_of(doc), 0, -1); },
         [](ConstDoc doc) { is_true(replaced(doc)); }, ""},
        {"json_array_replace_null", nullptr,
         [](Doc doc, Doc) { return json_array_replace_null(channels_of(doc), 0); },
         [](ConstDoc doc) { is_null(replaced(doc)); }, ""},

        {"json_object_dotset_value", new_subtree,
         [](Doc doc, Doc value) {
             return json_object_dotset_value(root_of(doc), DEEP_PATH, value);
         },
         [=](ConstDoc doc) { is_subtree(member(doc, DEEP_PATH)); }, DEEP_PATH},
        {"json_object_dotset_string", nullptr,
         [](Doc doc, Doc) { return json_object_dotset_string(root_of(doc), DEEP_PATH, LONG_TEXT); },
         [](ConstDoc doc) { is_text(member(doc, DEEP_PATH)); }, DEEP_PATH},
        {"json_object_dotset_number", nullptr,
         [](Doc doc, Doc) { return json_object_dotset_number(root_of(doc), DEEP_PATH, 868.5); },
         [](ConstDoc doc) { is_number(member(doc, DEEP_PATH)); }, DEEP_PATH},
        {"json_object_dotset_boolean", nullptr,
         [](Doc doc, Doc) { return json_object_dotset_boolean(root_of(doc), DEEP_PATH, 1); },
         [](ConstDoc doc) { is_true(member(doc, DEEP_PATH)); }, DEEP_PATH},
        {"json_object_dotset_null", nullptr,
         [](Doc doc, Doc) { return json_object_dotset_null(root_of(doc), DEEP_PATH); },
         [](ConstDoc doc) { is_null(member(doc, DEEP_PATH)); }, DEEP_PATH},

        {"json_value_merge_patch", nullptr,
         [=](Doc doc, Doc) { return json_value_merge_patch(doc, patch); },
         [](ConstDoc doc) {
             EXPECT_EQ(member(doc, "gateway.location"), nullptr);
             EXPECT_EQ(text_of(member(doc, "gateway.antenna")), R"({"gain_dbi":3})");
             EXPECT_EQ(json_number(member(doc, "network.lora.tx_power_dbm")), 27);
         },
         ""},
    };
}

class AllocationSweep : public HookedTest {
protected:
    TempDir dir_;
};

TEST_F(AllocationSweep, EveryFailingAllocationIsReportedAndLeavesNothingBehind)
{
    const std::string commented = read_file_bytes(CONFIG_PATH);
    ASSERT_FALSE(commented.empty()) << CONFIG_PATH;
    ValuePtr config(json_parse_string_with_comments(commented.c_str()));
    ASSERT_NE(config, nullptr);
    const std::string strict = text_of(config.get(), true);
    const std::string compact = text_of(config.get());
    const std::string strict_file = dir_.write("strict.json", strict);
    const std::string commented_file = dir_.write("commented.json", commented);
    ValuePtr subtree(new_subtree());
    ValuePtr patch(json_parse_string(MERGE_PATCH));
    const JSON_Value *reference = config.get();

    std::vector<Operation> operations = {
        value_producer("json_value_init_object", json_value_init_object,
                       [](const JSON_Value *v) {
                           EXPECT_EQ(json_type(v), JSONObject);
                           EXPECT_EQ(json_object_get_count(json_object(v)), 0u);
                       }),
        value_producer("json_value_init_array", json_value_init_array,
                       [](const JSON_Value *v) {
                           EXPECT_EQ(json_type(v), JSONArray);
                           EXPECT_EQ(json_array_get_count(json_array(v)), 0u);
                       }),
        value_producer(
            "json_value_init_string", [] { return json_value_init_string(LONG_TEXT); },
            [](const JSON_Value *v) { EXPECT_STREQ(json_string(v), LONG_TEXT); }),
        value_producer(
            "json_value_init_number", [] { return json_value_init_number(-166.25); },
            [](const JSON_Value *v) { EXPECT_EQ(json_number(v), -166.25); }),
        value_producer(
            "json_value_init_boolean", [] { return json_value_init_boolean(0); },
            [](const JSON_Value *v) { EXPECT_EQ(json_value_get_boolean(v), 0); }),
        value_producer("json_value_init_null", json_value_init_null,
                       [](const JSON_Value *v) { EXPECT_EQ(json_type(v), JSONNull); }),
        value_like(
            "json_parse_string", [&] { return json_parse_string(strict.c_str()); }, reference),
        value_like(
            "json_parse_string_with_comments",
            [&] { return json_parse_string_with_comments(commented.c_str()); }, reference),
        value_like(
            "json_parse_buffer", [&] { return json_parse_buffer(strict.data(), strict.size()); },
            reference),
        value_like(
            "json_parse_buffer_with_comments",
            [&] { return json_parse_buffer_with_comments(commented.data(), commented.size()); },
            reference),
        value_like(
            "json_parse_file", [&] { return json_parse_file(strict_file.c_str()); }, reference),
        value_like(
            "json_parse_file_with_comments",
            [&] { return json_parse_file_with_comments(commented_file.c_str()); }, reference),
        value_like(
            "json_value_deep_copy", [&] { return json_value_deep_copy(reference); }, reference),
        text_producer(
            "json_serialize_to_string", [&] { return json_serialize_to_string(reference); },
            compact),
        text_producer(
            "json_serialize_to_string_pretty",
            [&] { return json_serialize_to_string_pretty(reference); }, strict),
    };
    for (Change &change : changes(subtree.get(), patch.get()))
        operations.push_back(change_of(strict, std::move(change)));

    const size_t baseline = recording_hooks::live_blocks();
    constexpr size_t SWEEP_LIMIT = 100000;
    size_t failures_swept = 0;
    for (const Operation &operation : operations) {
        SCOPED_TRACE(operation.name);
        size_t k = 1;
        for (; k <= SWEEP_LIMIT; k++) {
            SCOPED_TRACE("allocation " + std::to_string(k) + " fails");
            Trial trial(k);
            operation.attempt(trial);
            ASSERT_EQ(recording_hooks::live_blocks(), baseline) << "blocks left alive";
            if (!trial.fired())
                break;
            failures_swept++;
        }
        ASSERT_LE(k, SWEEP_LIMIT) << "never succeeded";
    }

    RecordProperty("operations", int(operations.size()));
    RecordProperty("failing_allocations", int(failures_swept));
    printf("allocation sweep: %zu operations, %zu failing allocations swept\n", operations.size(),
           failures_swept);
}

}  // namespace
