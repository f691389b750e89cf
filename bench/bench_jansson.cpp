// Baseline: jansson (insertion order kept, the default since 2.8).
#include "harness.h"

#include <jansson.h>

#include <cstdlib>
#include <cstring>

namespace {

struct Jansson {
    static constexpr const char *name = "jansson";
    using Tree = json_t *;

    static Tree parse(const char *text) { return json_loads(text, 0, nullptr); }
    static void release(Tree tree) { json_decref(tree); }

    static size_t serialize(Tree tree, bench::Form form)
    {
        char *text = json_dumps(tree, form == bench::Form::pretty ? JSON_INDENT(4) : JSON_COMPACT);
        size_t length = text ? std::strlen(text) : 0;
        std::free(text);  // json_dumps allocates through the default hooks
        return length;
    }

    static void use_hooks(bench::Allocate allocate, bench::Release release)
    {
        if (allocate)
            json_set_alloc_funcs(allocate, release);
        else
            json_set_alloc_funcs(std::malloc, std::free);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    return bench::run_benchmarks<Jansson>(argc, argv);
}
