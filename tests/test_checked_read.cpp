// Checked reads: what each type accepts, exactly, and an untouched result on
// every refusal.
#include "owners.h"
#include "recording_hooks.h"
#include "serialized.h"

#include <cstdint>
#include <optional>
#include <string>

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

// One type's read of a value, and the same through each lookup.
template <typename Out>
struct Reads {
    JSON_Status (*value)(const JSON_Value *, Out *);
    JSON_Status (*member)(const JSON_Object *, const char *, Out *);
    JSON_Status (*dotted)(const JSON_Object *, const char *, Out *);
    JSON_Status (*item)(const JSON_Array *, size_t, Out *);
};
constexpr Reads<int> BOOLEAN{json_value_read_boolean, json_object_read_boolean,
                             json_object_dotread_boolean, json_array_read_boolean};
constexpr Reads<int64_t> INT64{json_value_read_int64, json_object_read_int64,
                               json_object_dotread_int64, json_array_read_int64};
constexpr Reads<uint64_t> UINT64{json_value_read_uint64, json_object_read_uint64,
                                 json_object_dotread_uint64, json_array_read_uint64};

// `text` read as a value, a member, through a dotted path and as an item,
// each giving `expected`; and nothing where the lookups find nothing.
template <typename Out>
void expect_reads(const Reads<Out> &reads, const std::string &text, std::optional<Out> expected)
{
    ValuePtr root =
        value_of(R"({"v":)" + text + R"(,"o":{"v":)" + text + "},\"a\":[" + text + "]}");
    const JSON_Object *object = json_object(root.get());
    const JSON_Array *items = json_object_get_array(object, "a");
    const JSON_Value *value = json_object_get_value(object, "v");
    EXPECT_EQ(read_with<Out>([&](Out *out) { return reads.value(value, out); }), expected);
    EXPECT_EQ(read_with<Out>([&](Out *out) { return reads.member(object, "v", out); }), expected);
    EXPECT_EQ(read_with<Out>([&](Out *out) { return reads.dotted(object, "o.v", out); }), expected);
    EXPECT_EQ(read_with<Out>([&](Out *out) { return reads.item(items, 0, out); }), expected);
    EXPECT_FALSE(read_with<Out>([&](Out *out) { return reads.member(object, "w", out); }));
    EXPECT_FALSE(read_with<Out>([&](Out *out) { return reads.dotted(object, "o.w", out); }));
    EXPECT_FALSE(read_with<Out>([&](Out *out) { return reads.item(items, 1, out); }));
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
        {"1e-400", {}, {}, {}},
        {"2e308", {}, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        expect_reads(BOOLEAN, c.text, c.boolean);
        expect_reads(INT64, c.text, c.int64);
        expect_reads(UINT64, c.text, c.uint64);
    }
}

}  // namespace
