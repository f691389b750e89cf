// Baseline: json-c. Its serializer writes into a buffer owned by the object
// and reused across calls, so its serialize figures include no allocation of
// the result; a number read from text is written back as that text, with no
// formatting; its indented form uses two spaces per level.
#include "harness.h"

#include <json-c/json.h>

#include <cstring>

namespace {

struct JsonC {
    static constexpr const char *name = "json-c";
    using Tree = json_object *;

    static Tree parse(const char *text) { return json_tokener_parse(text); }
    static void release(Tree tree) { json_object_put(tree); }

    static size_t serialize(Tree tree, bench::Form form)
    {
        int flags = form == bench::Form::pretty ? JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED
                                                : JSON_C_TO_STRING_PLAIN;
        const char *text = json_object_to_json_string_ext(tree, flags);
        return text ? std::strlen(text) : 0;
    }
};

}  // namespace

int main(int argc, char **argv)
{
    return bench::run_benchmarks<JsonC>(argc, argv);
}
