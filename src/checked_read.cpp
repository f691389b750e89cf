// Reads that tell a missing or unsuitable value from a stored one: a status,
// and the result written only on success. The plain getters cannot, since
// their neutral results (0.0, -1) are values too.
#include "number_read.h"
#include "value.h"

#include <cstdint>
#include <string_view>

using namespace jsontree::detail;

namespace {

// An integer of either signedness, so one reading serves both ranges.
struct Integer {
    bool negative;
    uint64_t magnitude;
};

// A kept literal is an integer the double only rounds (every digit counts),
// or a number that became 0 or infinite: a fraction or an exponent, refused.
bool literal_integer(std::string_view literal, Integer &integer)
{
    integer = {literal[0] == '-', 0};
    literal.remove_prefix(integer.negative ? 1 : 0);
    for (char digit : literal) {
        if (!is_digit(digit) || __builtin_mul_overflow(integer.magnitude, 10, &integer.magnitude) ||
            __builtin_add_overflow(integer.magnitude, uint64_t(digit - '0'), &integer.magnitude))
            return false;
    }
    return !literal.empty();
}

bool double_integer(double number, Integer &integer)
{
    double magnitude = number < 0 ? -number : number;
    // NaN fails the comparison too.
    if (!(magnitude < 0x1p64) || double(uint64_t(magnitude)) != magnitude)
        return false;
    integer = {number < 0, uint64_t(magnitude)};
    return true;
}

bool integer_of(const JSON_Value *value, Integer &integer)
{
    if (!is_of_type(value, JSONNumber))
        return false;
    const char *literal = json_value_get_number_text(value);
    return literal ? literal_integer(literal, integer)
                   : double_integer(json_value_get_number(value), integer);
}

bool read_boolean(const JSON_Value *value, int &out)
{
    out = json_value_get_boolean(value);
    return out != -1;
}

bool read_int64(const JSON_Value *value, int64_t &out)
{
    Integer integer;
    constexpr uint64_t LARGEST = INT64_MAX;
    if (!integer_of(value, integer) || integer.magnitude > LARGEST + integer.negative)
        return false;
    // Negated in unsigned arithmetic, so INT64_MIN needs no special case.
    out = int64_t(integer.negative ? 0 - integer.magnitude : integer.magnitude);
    return true;
}

bool read_uint64(const JSON_Value *value, uint64_t &out)
{
    Integer integer;
    if (!integer_of(value, integer) || (integer.negative && integer.magnitude != 0))
        return false;
    out = integer.magnitude;
    return true;
}

// `*out` is written only when the read succeeds.
template <typename Out, bool read(const JSON_Value *, Out &)>
JSON_Status deliver(const JSON_Value *value, Out *out)
{
    Out result{};
    if (!out || !read(value, result))
        return JSONFailure;
    *out = result;
    return JSONSuccess;
}

}  // namespace

JSON_Status json_value_read_boolean(const JSON_Value *value, int *out)
{
    return deliver<int, read_boolean>(value, out);
}

JSON_Status json_value_read_int64(const JSON_Value *value, int64_t *out)
{
    return deliver<int64_t, read_int64>(value, out);
}

JSON_Status json_value_read_uint64(const JSON_Value *value, uint64_t *out)
{
    return deliver<uint64_t, read_uint64>(value, out);
}

JSON_Status json_object_read_boolean(const JSON_Object *object, const char *name, int *out)
{
    return json_value_read_boolean(json_object_get_value(object, name), out);
}

JSON_Status json_object_read_int64(const JSON_Object *object, const char *name, int64_t *out)
{
    return json_value_read_int64(json_object_get_value(object, name), out);
}

JSON_Status json_object_read_uint64(const JSON_Object *object, const char *name, uint64_t *out)
{
    return json_value_read_uint64(json_object_get_value(object, name), out);
}

JSON_Status json_object_dotread_boolean(const JSON_Object *object, const char *name, int *out)
{
    return json_value_read_boolean(json_object_dotget_value(object, name), out);
}

JSON_Status json_object_dotread_int64(const JSON_Object *object, const char *name, int64_t *out)
{
    return json_value_read_int64(json_object_dotget_value(object, name), out);
}

JSON_Status json_object_dotread_uint64(const JSON_Object *object, const char *name, uint64_t *out)
{
    return json_value_read_uint64(json_object_dotget_value(object, name), out);
}

JSON_Status json_array_read_boolean(const JSON_Array *array, size_t index, int *out)
{
    return json_value_read_boolean(json_array_get_value(array, index), out);
}

JSON_Status json_array_read_int64(const JSON_Array *array, size_t index, int64_t *out)
{
    return json_value_read_int64(json_array_get_value(array, index), out);
}

JSON_Status json_array_read_uint64(const JSON_Array *array, size_t index, uint64_t *out)
{
    return json_value_read_uint64(json_array_get_value(array, index), out);
}
