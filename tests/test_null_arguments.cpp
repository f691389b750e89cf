// Null for a pointer argument: each call gives the neutral result it promises
// and changes nothing, whatever the other arguments hold.
#include "owners.h"
#include "recording_hooks.h"

#include <cerrno>
#include <functional>
#include <string>

namespace {

using NullArgumentTest = HookedTest;

// Results of every type, shown alike so that one table holds them.
std::string shown(const void *pointer)
{
    return pointer ? "a pointer" : "null";
}
std::string shown(double number)
{
    return "number " + std::to_string(number);
}
std::string shown(int integer)
{
    return std::to_string(integer);
}
std::string shown(size_t size)
{
    return "size " + std::to_string(size);
}

TEST_F(NullArgumentTest, EachCallGivesItsNeutralResult)
{
    ValuePtr root(json_value_init_object());
    JSON_Object *object = json_object(root.get());
    ValuePtr value(json_value_init_number(1));
    ValuePtr null_schema(json_value_init_null());
    int boolean = 5;
    int64_t integer = 5;
    uint64_t natural = 5;
    const std::string none = shown(nullptr), zero = shown(0.0), no_boolean = shown(-1),
                      no_length = shown(size_t(0)), failure = shown(JSONFailure),
                      no_type = shown(JSONError);
    const struct {
        std::function<std::string()> call;
        std::string result;
    } cases[] = {
        {[] { return shown(json_value_get_type(nullptr)); }, no_type},
        {[] { return shown(json_type(nullptr)); }, no_type},
        {[] { return shown(json_value_get_number(nullptr)); }, zero},
        {[] { return shown(json_number(nullptr)); }, zero},
        {[] { return shown(json_value_get_boolean(nullptr)); }, no_boolean},
        {[] { return shown(json_boolean(nullptr)); }, no_boolean},
        {[] { return shown(json_value_get_object(nullptr)); }, none},
        {[] { return shown(json_object(nullptr)); }, none},
        {[] { return shown(json_value_get_array(nullptr)); }, none},
        {[] { return shown(json_array(nullptr)); }, none},
        {[] { return shown(json_string(nullptr)); }, none},
        {[] { return shown(json_value_get_string_len(nullptr)); }, no_length},
        {[] { return shown(json_value_get_number_text(nullptr)); }, none},
        {[] { return shown(json_parse_string(nullptr)); }, none},
        {[] { return shown(json_parse_buffer(nullptr, 3)); }, none},
        {[] { return shown(json_parse_buffer_with_comments(nullptr, 0)); }, none},
        {[] { return shown(json_parse_file(nullptr)); }, none},
        {[] { return shown(json_parse_file_strict_report(nullptr, nullptr)); }, none},
        {[] { return shown(json_parse_buffer_strict_report(nullptr, 2, nullptr)); }, none},
        {[] { return shown(json_file_journal_name(nullptr, nullptr, 0)); }, failure},
        {[&] { return shown(json_object_get_string(object, nullptr)); }, none},
        {[] { return shown(json_object_get_string(nullptr, "text")); }, none},
        {[] { return shown(json_array_get_string_len(nullptr, 0)); }, no_length},
        {[&] { return shown(json_object_set_value(object, nullptr, value.get())); }, failure},
        {[&] { return shown(json_object_set_value(object, "a", nullptr)); }, failure},
        {[&] { return shown(json_object_set_string(object, "a", nullptr)); }, failure},
        {[&] { return shown(json_array_append_value(nullptr, value.get())); }, failure},
        {[&] { return shown(json_object_dotget_value(object, nullptr)); }, none},
        {[] { return shown(json_object_dotget_value(nullptr, "a")); }, none},
        {[] { return shown(json_object_dotget_value(nullptr, "a.b")); }, none},
        {[] { return shown(json_object_dotset_null(nullptr, "a")); }, failure},
        {[] { return shown(json_object_dotset_number(nullptr, "a.b", 1)); }, failure},
        {[&] { return shown(json_object_dotset_null(object, nullptr)); }, failure},
        {[&] { return shown(json_object_dotset_value(object, "a", nullptr)); }, failure},
        {[] { return shown(json_object_dotremove(nullptr, "a")); }, failure},
        {[&] { return shown(json_object_dotremove(object, nullptr)); }, failure},
        {[&] { return shown(json_validate(nullptr, value.get())); }, failure},
        {[&] { return shown(json_value_read_boolean(value.get(), nullptr)); }, failure},
        {[&] { return shown(json_value_read_int64(nullptr, &integer)); }, failure},
        {[&] { return shown(json_value_read_uint64(value.get(), nullptr)); }, failure},
        {[&] { return shown(json_object_read_int64(object, nullptr, &integer)); }, failure},
        {[&] { return shown(json_object_read_uint64(nullptr, "a", &natural)); }, failure},
        {[&] { return shown(json_object_dotread_boolean(object, nullptr, &boolean)); }, failure},
        {[&] { return shown(json_object_dotread_int64(nullptr, "a.b", &integer)); }, failure},
        {[&] { return shown(json_array_read_uint64(nullptr, 0, &natural)); }, failure},
        {[] { return shown(json_object_get_value_at(nullptr, 0)); }, none},
        {[] { return shown(json_pointer_get(nullptr, "")); }, none},
        {[&] { return shown(json_pointer_get(root.get(), nullptr)); }, none},
        {[&] { return shown(json_pointer_add(nullptr, "/a", value.get())); }, failure},
        {[&] { return shown(json_pointer_add(root.get(), nullptr, value.get())); }, failure},
        {[&] { return shown(json_pointer_add(root.get(), "/a", nullptr)); }, failure},
        {[] { return shown(json_pointer_remove(nullptr, "/a")); }, failure},
        {[&] { return shown(json_pointer_remove(root.get(), nullptr)); }, failure},
        {[&] { return shown(json_edit_dotset(nullptr, 2, "a", value.get(), nullptr, nullptr)); },
         none},
        {[&] { return shown(json_edit_dotset("{}", 2, nullptr, value.get(), nullptr, nullptr)); },
         none},
        {[] { return shown(json_edit_dotset("{}", 2, "a", nullptr, nullptr, nullptr)); }, none},
        {[] { return shown(json_edit_dotremove(nullptr, 2, "a", nullptr, nullptr)); }, none},
        {[] { return shown(json_edit_dotremove("{\"a\":1}", 7, nullptr, nullptr, nullptr)); },
         none},
        {[&] {
             return shown(json_edit_pointer_set("[]", 2, nullptr, value.get(), nullptr, nullptr));
         },
         none},
        {[] { return shown(json_edit_pointer_set("[]", 2, "/-", nullptr, nullptr, nullptr)); },
         none},
        {[] { return shown(json_edit_pointer_remove(nullptr, 2, "/0", nullptr, nullptr)); }, none},
        {[&] { return shown(json_edit_file_dotset(nullptr, "a", value.get(), nullptr)); }, failure},
        {[&] { return shown(json_edit_file_dotset("x", nullptr, value.get(), nullptr)); }, failure},
        {[] { return shown(json_edit_file_dotset("x", "a", nullptr, nullptr)); }, failure},
        {[&] { return shown(json_validate(null_schema.get(), nullptr)); }, failure},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        size_t live_before = recording_hooks::live_blocks();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(recording_hooks::live_blocks(), live_before);
    }
    EXPECT_EQ(json_object_get_count(object), 0u);
    EXPECT_EQ(json_number(value.get()), 1.0) << "a refused value is still the caller's";
    EXPECT_EQ(boolean + integer + natural, 15u) << "a failed read writes nothing";
}

// json_file_open promises errno on every failure, a null name's too.
TEST_F(NullArgumentTest, FileOpenSetsErrnoForANullName)
{
    errno = 0;
    EXPECT_EQ(json_file_open(nullptr, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
