// Shared timing harness for the per-library benchmark programs.
//
// Each bench_<lib>.cpp describes its library by an adapter struct and hands
// it to run_benchmarks(). The harness owns everything else: reading the
// inputs, warm-up, timed samples, the median, heap counting and the output
// lines, so every library is measured by exactly the same code.
//
// Adapter requirements:
//   static constexpr const char *name;          library name in the output
//   using Tree = ...;                            what a parse returns
//   static Tree parse(const char *text);         null/false-y on failure
//   static void release(Tree);
//   static size_t serialize(Tree, Form);         output bytes, result released
// Optional:
//   static Tree parse_with_comments(const char *text);
//   static void use_hooks(Allocate, Release);    allocation hooks; null, null
//                                                gives the library's defaults
//
// Output: one line per figure, "LIB FILE METRIC VALUE". Speed metrics
// (parse, parse_comments, serialize, serialize_pretty) are MB/s with
// MB = 10^6 bytes of the *input file*, so for one file every library is
// credited with the same amount of work and ratios are ratios of time (the
// thread's processor time, see thread_seconds).
// alloc_replay is MB/s of a replay of the very mallocs and frees one parse
// and release made through the hooks, without the library around them:
// replay speed / parse speed is how close parsing comes to that floor.
// alloc_replay_reversed replays the same blocks in the best order they can
// come in (see AllocationReplay). parse_arena is parse and release with the
// hooks cutting blocks from an arena: what is left with the allocator gone.
#ifndef BENCH_HARNESS_H
#define BENCH_HARNESS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "heaps.h"

namespace bench {

enum class Form {
    compact,
    pretty
};

// ---- Inputs ----------------------------------------------------------------

struct Input {
    std::string label;
    std::string plain_text;
    // Same document with comments; empty when the input has no such twin.
    std::string commented_text;
};

inline std::optional<std::string> read_whole_file(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

struct Options {
    std::string only_operation;  // empty: every operation
    long repeat_count = 0;       // > 0: untimed repetitions for a profiler
    std::vector<Input> inputs;
};

[[noreturn]] inline void usage_and_exit(const char *program)
{
    std::fprintf(stderr,
                 "usage: %s [--only OPERATION] [--repeat N] LABEL:PATH[:COMMENTED_PATH]...\n"
                 "  OPERATION: parse, parse_comments, serialize, serialize_pretty, heap,\n"
                 "  alloc_replay, alloc_replay_reversed, parse_arena\n"
                 "  --repeat N runs the operation N times per input without timing\n"
                 "  (for callgrind: --toggle-collect='bench::profiled_region*').\n",
                 program);
    std::exit(2);
}

inline Input load_input(const char *program, const std::string &argument)
{
    size_t first_colon = argument.find(':');
    if (first_colon == std::string::npos || first_colon == 0)
        usage_and_exit(program);
    size_t second_colon = argument.find(':', first_colon + 1);
    std::string plain_path = argument.substr(first_colon + 1, second_colon - first_colon - 1);
    Input input{argument.substr(0, first_colon), {}, {}};
    auto plain = read_whole_file(plain_path);
    if (!plain) {
        std::fprintf(stderr, "%s: cannot read %s\n", program, plain_path.c_str());
        std::exit(2);
    }
    input.plain_text = std::move(*plain);
    if (second_colon != std::string::npos) {
        std::string commented_path = argument.substr(second_colon + 1);
        auto commented = read_whole_file(commented_path);
        if (!commented) {
            std::fprintf(stderr, "%s: cannot read %s\n", program, commented_path.c_str());
            std::exit(2);
        }
        input.commented_text = std::move(*commented);
    }
    return input;
}

inline Options parse_options(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--only" && i + 1 < argc) {
            options.only_operation = argv[++i];
        } else if (argument == "--repeat" && i + 1 < argc) {
            options.repeat_count = std::strtol(argv[++i], nullptr, 10);
            if (options.repeat_count <= 0)
                usage_and_exit(argv[0]);
        } else if (argument.starts_with("--")) {
            usage_and_exit(argv[0]);
        } else {
            options.inputs.push_back(load_input(argv[0], argument));
        }
    }
    if (options.inputs.empty())
        usage_and_exit(argv[0]);
    return options;
}

// ---- Timing ----------------------------------------------------------------

struct TimingSettings {
    double warmup_seconds = 0.1;
    double sample_seconds = 0.02;  // each sample repeats the call at least this long
    int sample_count = 15;
};

inline double environment_number(const char *name, double fallback)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    double value = std::strtod(text, nullptr);
    return value > 0 ? value : fallback;
}

// BENCH_SAMPLES and BENCH_SAMPLE_MS trade run time for steadier figures.
inline TimingSettings timing_settings_from_environment()
{
    TimingSettings settings;
    settings.sample_count = static_cast<int>(environment_number("BENCH_SAMPLES", 15));
    settings.sample_seconds = environment_number("BENCH_SAMPLE_MS", 20) / 1000.0;
    return settings;
}

// The processor time of this thread: on a machine shared with other work,
// time spent waiting for a processor is not counted against the library.
inline double thread_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

inline double seconds_since(double start)
{
    return thread_seconds() - start;
}

// Median seconds per call. The warm-up both fills caches and the allocator's
// free lists and tells how many calls make one sample of sample_seconds, so
// that a call far below the clock's resolution is still timed in bulk.
template <class Call>
double median_seconds_per_call(Call &&call, const TimingSettings &settings)
{
    long warmup_calls = 0;
    double warmup_start = thread_seconds();
    do {
        call();
        ++warmup_calls;
    } while (warmup_calls < 2 || seconds_since(warmup_start) < settings.warmup_seconds);
    double estimate = seconds_since(warmup_start) / static_cast<double>(warmup_calls);
    long batch = std::max(1L, static_cast<long>(settings.sample_seconds / estimate));

    std::vector<double> per_call;
    per_call.reserve(static_cast<size_t>(settings.sample_count));
    for (int sample = 0; sample < settings.sample_count; ++sample) {
        double start = thread_seconds();
        for (long i = 0; i < batch; ++i)
            call();
        per_call.push_back(seconds_since(start) / static_cast<double>(batch));
    }
    std::sort(per_call.begin(), per_call.end());
    size_t middle = per_call.size() / 2;
    return per_call.size() % 2 ? per_call[middle] : (per_call[middle - 1] + per_call[middle]) / 2;
}

// The one place a profiler is pointed at: everything outside it (reading the
// input, the parse that precedes a serialization run) is left out with
// callgrind's --toggle-collect. The barrier after the call keeps it from
// becoming a tail call, which would leave the region before the work ends.
[[gnu::noinline]] inline void profiled_region(void (*body)(void *), void *context)
{
    body(context);
    asm volatile("" ::: "memory");
}

template <class Call>
void repeat_for_profiler(Call &call, long count)
{
    struct Context {
        Call *call;
        long count;
    } context{&call, count};
    profiled_region(
        [](void *opaque) {
            auto *ctx = static_cast<Context *>(opaque);
            for (long i = 0; i < ctx->count; ++i)
                (*ctx->call)();
        },
        &context);
}

// ---- Output ----------------------------------------------------------------

inline void print_figure(const char *library, const std::string &label, const char *metric,
                         double value)
{
    std::printf("%s %s %s %.2f\n", library, label.c_str(), metric, value);
    std::fflush(stdout);
}

inline void print_count(const char *library, const std::string &label, const char *metric,
                        size_t value)
{
    std::printf("%s %s %s %zu\n", library, label.c_str(), metric, value);
    std::fflush(stdout);
}

// ---- The suite -------------------------------------------------------------

template <class Adapter>
constexpr bool parses_comments = requires(const char *text)
{
    Adapter::parse_with_comments(text);
};

template <class Adapter>
constexpr bool has_hooks = requires
{
    Adapter::use_hooks(nullptr, nullptr);
};

template <class Adapter>
class Suite {
public:
    using Tree = typename Adapter::Tree;

    explicit Suite(const Options &options)
        : options_(options), settings_(timing_settings_from_environment())
    {
    }

    int run()
    {
        int failures = 0;
        for (const Input &input : options_.inputs)
            failures += run_input(input) ? 0 : 1;
        return failures ? 1 : 0;
    }

private:
    bool selected(const char *operation) const
    {
        return options_.only_operation.empty() || options_.only_operation == operation;
    }

    // Times `call` (or repeats it for a profiler) and prints MB/s over `bytes`.
    template <class Call>
    void measure(const Input &input, const char *operation, size_t bytes, Call call)
    {
        if (!selected(operation))
            return;
        if (options_.repeat_count > 0) {
            repeat_for_profiler(call, options_.repeat_count);
            return;
        }
        double seconds = median_seconds_per_call(call, settings_);
        print_figure(Adapter::name, input.label, operation,
                     static_cast<double>(bytes) / 1e6 / seconds);
    }

    template <class Parse>
    void measure_parse(const Input &input, const char *operation, const std::string &text,
                       Parse parse)
    {
        measure(input, operation, text.size(), [&] { Adapter::release(parse(text.c_str())); });
        if constexpr (has_hooks<Adapter>) {
            if (selected("heap") && options_.repeat_count == 0)
                report_parse_heap(input, operation, text, parse);
            if (operation == std::string("parse")) {
                measure_allocation_replay(input, text, parse);
                measure_arena_parse(input, text, parse);
            }
        }
    }

    template <class Parse>
    void report_parse_heap(const Input &input, const char *operation, const std::string &text,
                           Parse parse)
    {
        CountingHeap::reset();
        Adapter::use_hooks(CountingHeap::allocate, CountingHeap::release);
        Tree tree = parse(text.c_str());
        size_t retained = CountingHeap::current_bytes;
        Adapter::release(tree);
        Adapter::use_hooks(nullptr, nullptr);
        std::string prefix = operation;
        print_count(Adapter::name, input.label, (prefix + ":peak_heap_bytes").c_str(),
                    CountingHeap::peak_bytes);
        print_count(Adapter::name, input.label, (prefix + ":retained_heap_bytes").c_str(),
                    retained);
        print_count(Adapter::name, input.label, (prefix + ":allocations").c_str(),
                    CountingHeap::allocation_count);
        if (CountingHeap::current_bytes != 0)
            std::fprintf(stderr, "%s: %s: %zu bytes still held after release\n", Adapter::name,
                         input.label.c_str(), CountingHeap::current_bytes);
    }

    // Records one parse and release through the hooks, then times a replay
    // of just those calls, as recorded and in the best order they can come in.
    template <class Parse>
    void measure_allocation_replay(const Input &input, const std::string &text, Parse parse)
    {
        if (!selected("alloc_replay") && !selected("alloc_replay_reversed"))
            return;
        // Far more calls than any parse of this text makes: one block per
        // input byte, each allocated and released.
        RecordingHeap::start(2 * text.size() + 64);
        Adapter::use_hooks(RecordingHeap::allocate, RecordingHeap::release);
        Adapter::release(parse(text.c_str()));
        Adapter::use_hooks(nullptr, nullptr);
        if (RecordingHeap::overflowed) {
            std::fprintf(stderr, "%s: %s: too many allocation calls to record\n", Adapter::name,
                         input.label.c_str());
            return;
        }
        std::vector<RecordingHeap::Call> calls = std::move(RecordingHeap::calls);
        RecordingHeap::calls = {};
        using Order = AllocationReplay::Order;
        for (auto [operation, order] :
             {std::pair{"alloc_replay", Order::as_recorded},
              std::pair{"alloc_replay_reversed", Order::reverse_of_release}}) {
            if (!selected(operation))
                continue;
            AllocationReplay replay(calls, order);
            measure(input, operation, text.size(), [&] { replay(); });
        }
    }

    // Times parse and release with every block cut from an arena: the
    // library's own work. The arena holds every block of one parse, each
    // rounded up, which the counting heap's figures bound from above.
    template <class Parse>
    void measure_arena_parse(const Input &input, const std::string &text, Parse parse)
    {
        if (!selected("parse_arena"))
            return;
        CountingHeap::reset();
        Adapter::use_hooks(CountingHeap::allocate, CountingHeap::release);
        Adapter::release(parse(text.c_str()));
        ArenaHeap::prepare(CountingHeap::allocated_bytes +
                           CountingHeap::allocation_count * alignof(std::max_align_t));
        Adapter::use_hooks(ArenaHeap::allocate, ArenaHeap::release);
        measure(input, "parse_arena", text.size(), [&] {
            ArenaHeap::reset();
            Adapter::release(parse(text.c_str()));
        });
        Adapter::use_hooks(nullptr, nullptr);
        if (ArenaHeap::exhausted)
            std::fprintf(stderr, "%s: %s: the arena ran out\n", Adapter::name, input.label.c_str());
        ArenaHeap::prepare(0);
    }

    bool measure_serialize(const Input &input, const char *operation, Tree tree, Form form)
    {
        if (!selected(operation))
            return true;
        size_t output_bytes = Adapter::serialize(tree, form);
        if (output_bytes == 0) {
            std::fprintf(stderr, "%s: cannot serialize %s\n", Adapter::name, input.label.c_str());
            return false;
        }
        if (options_.repeat_count == 0) {
            std::string metric = std::string(operation) + ":output_bytes";
            print_count(Adapter::name, input.label, metric.c_str(), output_bytes);
        }
        measure(input, operation, input.plain_text.size(), [&] { Adapter::serialize(tree, form); });
        return true;
    }

    bool run_input(const Input &input)
    {
        if (options_.repeat_count == 0)
            print_count(Adapter::name, input.label, "file_bytes", input.plain_text.size());
        Tree tree = Adapter::parse(input.plain_text.c_str());
        if (!tree) {
            std::fprintf(stderr, "%s: cannot parse %s\n", Adapter::name, input.label.c_str());
            return false;
        }
        measure_parse(input, "parse", input.plain_text, Adapter::parse);
        if constexpr (parses_comments<Adapter>) {
            const std::string &text =
                input.commented_text.empty() ? input.plain_text : input.commented_text;
            if (options_.repeat_count == 0)
                print_count(Adapter::name, input.label, "commented_file_bytes", text.size());
            measure_parse(input, "parse_comments", text, Adapter::parse_with_comments);
        }
        bool serialized = measure_serialize(input, "serialize", tree, Form::compact) &&
                          measure_serialize(input, "serialize_pretty", tree, Form::pretty);
        Adapter::release(tree);
        return serialized;
    }

    const Options &options_;
    TimingSettings settings_;
};

template <class Adapter>
int run_benchmarks(int argc, char **argv)
{
    Options options = parse_options(argc, argv);
    return Suite<Adapter>(options).run();
}

}  // namespace bench

#endif  // BENCH_HARNESS_H
