// Baseline: cJSON. Compact output via cJSON_PrintUnformatted; its indented
// form uses tabs, so its pretty output is shorter than a four-space one.
#include "harness.h"

#include <cjson/cJSON.h>

#include <cstring>

namespace {

struct Cjson {
    static constexpr const char *name = "cjson";
    using Tree = cJSON *;

    static Tree parse(const char *text) { return cJSON_Parse(text); }
    static void release(Tree tree) { cJSON_Delete(tree); }

    static size_t serialize(Tree tree, bench::Form form)
    {
        char *text = form == bench::Form::pretty ? cJSON_Print(tree) : cJSON_PrintUnformatted(tree);
        size_t length = text ? std::strlen(text) : 0;
        cJSON_free(text);
        return length;
    }

    static void use_hooks(bench::Allocate allocate, bench::Release release)
    {
        cJSON_Hooks hooks{allocate, release};
        cJSON_InitHooks(allocate ? &hooks : nullptr);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    return bench::run_benchmarks<Cjson>(argc, argv);
}
