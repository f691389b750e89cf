// Benchmark of this project's library; see harness.h for the output format.
//
// Besides the suite, `bench_jsontree --write-comment-free IN OUT` writes the
// indented, comment-free form of IN: the plain-parse input that the driver
// gives every library for a file that carries comments.
#include "harness.h"

#include <jsontree.h>

#include <cstdio>
#include <cstring>

namespace {

struct Jsontree {
    static constexpr const char *name = "jsontree";
    using Tree = JSON_Value *;

    static Tree parse(const char *text) { return json_parse_string(text); }
    static Tree parse_with_comments(const char *text)
    {
        return json_parse_string_with_comments(text);
    }
    static void release(Tree tree) { json_value_free(tree); }

    static size_t serialize(Tree tree, bench::Form form)
    {
        char *text = form == bench::Form::pretty ? json_serialize_to_string_pretty(tree)
                                                 : json_serialize_to_string(tree);
        size_t length = text ? std::strlen(text) : 0;
        json_free_serialized_string(text);
        return length;
    }

    static void use_hooks(bench::Allocate allocate, bench::Release release)
    {
        json_set_allocation_functions(allocate, release);
    }
};

int write_comment_free(const char *input_path, const char *output_path)
{
    auto text = bench::read_whole_file(input_path);
    JSON_Value *tree = text ? json_parse_string_with_comments(text->c_str()) : nullptr;
    char *pretty = json_serialize_to_string_pretty(tree);
    json_value_free(tree);
    if (!pretty) {
        std::fprintf(stderr, "bench_jsontree: cannot read or serialize %s\n", input_path);
        return 1;
    }
    FILE *output = std::fopen(output_path, "w");
    bool written = output && std::fputs(pretty, output) >= 0;
    written = (output && std::fclose(output) == 0) && written;
    json_free_serialized_string(pretty);
    if (!written) {
        std::fprintf(stderr, "bench_jsontree: cannot write %s\n", output_path);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-comment-free") == 0)
        return write_comment_free(argv[2], argv[3]);
    return bench::run_benchmarks<Jsontree>(argc, argv);
}
