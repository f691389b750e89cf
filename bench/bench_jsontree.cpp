// Benchmark of this project's library; see harness.h for the output format.
//
// Besides the suite, `bench_jsontree --write-comment-free IN OUT` writes the
// indented, comment-free form of IN: the plain-parse input that the driver
// gives every library for a file that carries comments; and
// `bench_jsontree --edit PATH VALUE LABEL:FILE` times one change of the value
// at the dotted PATH of a commented FILE, made by a text edit that keeps every
// other byte (edit_us) and by a whole rewrite (rewrite_us: a parse with
// comments, the dotted store and the indented form, as the tool does), in
// microseconds per change.
#include "harness.h"

#include <jsontree.h>

#include <cstdio>
#include <cstring>
#include <string>

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

int measure_edit(const char *path, const char *value_text, const char *argument)
{
    const bench::Input input = bench::load_input("bench_jsontree", argument);
    const std::string &text = input.plain_text;
    JSON_Value *wrapped = json_parse_string(("[" + std::string(value_text) + "]").c_str());
    JSON_Value *value = json_value_deep_copy(json_array_get_value(json_array(wrapped), 0));
    json_value_free(wrapped);
    char *check = json_edit_dotset(text.data(), text.size(), path, value, nullptr, nullptr);
    json_free_serialized_string(check);
    if (!check) {
        std::fprintf(stderr, "bench_jsontree: no edit of %s in %s\n", path, input.label.c_str());
        json_value_free(value);
        return 1;
    }
    auto edit = [&] {
        json_free_serialized_string(
            json_edit_dotset(text.data(), text.size(), path, value, nullptr, nullptr));
    };
    auto rewrite = [&] {
        JSON_Value *tree = json_parse_string_with_comments(text.c_str());
        JSON_Value *copy = json_value_deep_copy(value);
        if (json_object_dotset_value(json_object(tree), path, copy) != JSONSuccess)
            json_value_free(copy);
        json_free_serialized_string(json_serialize_to_string_pretty(tree));
        json_value_free(tree);
    };
    const bench::TimingSettings settings = bench::timing_settings_from_environment();
    bench::print_figure(Jsontree::name, input.label, "edit_us",
                        bench::median_seconds_per_call(edit, settings) * 1e6);
    bench::print_figure(Jsontree::name, input.label, "rewrite_us",
                        bench::median_seconds_per_call(rewrite, settings) * 1e6);
    json_value_free(value);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-comment-free") == 0)
        return write_comment_free(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "--edit") == 0)
        return measure_edit(argv[2], argv[3], argv[4]);
    return bench::run_benchmarks<Jsontree>(argc, argv);
}
