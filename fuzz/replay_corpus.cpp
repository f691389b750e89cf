// Replays every file of the corpus directories it is given through a fuzz
// target, as regression cases built with the ordinary compiler. A target
// reports a fault by aborting; a sanitizer build also catches memory errors
// and leaks. An empty or missing directory fails: it would prove nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::error_code error;
        std::set<std::filesystem::path> inputs;  // sorted: a failure replays in the same order
        for (const auto &entry : std::filesystem::directory_iterator(argv[i], error))
            if (entry.is_regular_file())
                inputs.insert(entry.path());
        if (error || inputs.empty()) {
            std::fprintf(stderr, "%s: no corpus files\n", argv[i]);
            return 1;
        }
        for (const auto &input : inputs) {
            std::ifstream file(input, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
            std::printf("%s\n", input.c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
        }
    }
    return 0;
}
