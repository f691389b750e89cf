// Checked reads: what each type accepts, exactly, and an untouched result on
// every refusal.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace {

using CheckedReadTest = HookedTest;

constexpr int64_t UNTOUCHED = 77;

// What a read gave: its result, or nothing when it failed (leaving `*out`).
template <typename Out, typename Read>
std::optional<Out> read_with(Read read)
{
    Out out = Out(UNTOUCHED);
    JSON_Status status = read(&out);
    if (status != JSONSuccess) {
        EXPECT_EQ(out, Out(UNTOUCHED)) << "written on failure";
        return std::nullopt;
    }
    return out;
}

TEST_F(CheckedReadTest, EachReadTakesOnlyWhatItsTypeHolds)
{
    const struct {
        const char *text;
        std::optional<int> boolean;
        std::optional<int64_t> int64;
        std::optional<uint64_t> uint64;
    } cases[] = {
        {"true", 1, {}, {}},
        {"false", 0, {}, {}},
        {"null", {}, {}, {}},
        {R"("1")", {}, {}, {}},
        {"[1]", {}, {}, {}},
        {"0", {}, 0, 0u},
        {"-0", {}, 0, 0u},
        {"-1", {}, -1, {}},
        {"1.5", {}, {}, {}},
        {"1e3", {}, 1000, 1000u},
        {"9007199254740993", {}, 9007199254740993, 9007199254740993u},
        {"-9007199254740993", {}, -9007199254740993, {}},
        {"9223372036854775807", {}, INT64_MAX, 9223372036854775807u},
        {"-9223372036854775808", {}, INT64_MIN, {}},
        {"9223372036854775808", {}, {}, 9223372036854775808u},
        {"-9223372036854775809", {}, {}, {}},
        {"18446744073709551615", {}, {}, UINT64_MAX},
        {"18446744073709551616", {}, {}, {}},
        {"1e19", {}, {}, 10000000000000000000u},
        {"1e20", {}, {}, {}},
        {"1e-400", {}, {}, {}},
        {"2e308", {}, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ValuePtr value = value_of(c.text);
        ASSERT_TRUE(value);
        const JSON_Value *v = value.get();
        EXPECT_EQ(read_with<int>([v](int *out) { return json_value_read_boolean(v, out); }),
                  c.boolean);
        EXPECT_EQ(read_with<int64_t>([v](int64_t *out) { return json_value_read_int64(v, out); }),
                  c.int64);
        EXPECT_EQ(
            read_with<uint64_t>([v](uint64_t *out) { return json_value_read_uint64(v, out); }),
            c.uint64);
    }
}

// A read of any type as one row of a table, its result widened.
template <typename Out, typename Call>
std::function<std::optional<int64_t>()> reading(Call call)
{
    return [call]() -> std::optional<int64_t> {
        std::optional<Out> result = read_with<Out>(call);
        return result ? std::optional<int64_t>(int64_t(*result)) : std::nullopt;
    };
}

TEST_F(CheckedReadTest, LookupFormsReadWhatTheirLookupFinds)
{
    ValuePtr root = value_of(R"({"radio":{"freq":868100000,"on":true},"tmst":[false,-5,7]})");
    const JSON_Object *conf = json_object(root.get());
    const JSON_Object *radio = json_object_get_object(conf, "radio");
    const JSON_Array *tmst = json_object_get_array(conf, "tmst");
    const struct {
        std::function<std::optional<int64_t>()> read;
        std::optional<int64_t> expected;
    } cases[] = {
        {reading<int>([&](int *out) { return json_object_read_boolean(radio, "on", out); }), 1},
        {reading<int64_t>([&](int64_t *out) { return json_object_read_int64(radio, "freq", out); }),
         868100000},
        {reading<uint64_t>(
             [&](uint64_t *out) { return json_object_read_uint64(radio, "freq", out); }),
         868100000},
        {reading<int64_t>([&](int64_t *out) { return json_object_read_int64(conf, "freq", out); }),
         {}},
        {reading<int>([&](int *out) { return json_object_dotread_boolean(conf, "radio.on", out); }),
         1},
        {reading<int64_t>(
             [&](int64_t *out) { return json_object_dotread_int64(conf, "radio.freq", out); }),
         868100000},
        {reading<uint64_t>(
             [&](uint64_t *out) { return json_object_dotread_uint64(conf, "radio.freq", out); }),
         868100000},
        {reading<int64_t>(
             [&](int64_t *out) { return json_object_dotread_int64(conf, "tmst.0", out); }),
         {}},
        {reading<int>([&](int *out) { return json_array_read_boolean(tmst, 0, out); }), 0},
        {reading<int64_t>([&](int64_t *out) { return json_array_read_int64(tmst, 1, out); }), -5},
        {reading<uint64_t>([&](uint64_t *out) { return json_array_read_uint64(tmst, 2, out); }), 7},
        {reading<uint64_t>([&](uint64_t *out) { return json_array_read_uint64(tmst, 3, out); }),
         {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.read(), c.expected) << "row " << &c - cases;
}

}  // namespace
