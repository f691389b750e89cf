// Running the real tool binary and working in a private temporary directory.
#ifndef TESTS_PROCESS_H
#define TESTS_PROCESS_H

#include <string>
#include <vector>

struct RunResult {
    std::string out;   // everything written on standard output
    std::string err;   // everything written on standard error
    int status = -1;   // exit status, or 128 + signal number
};

// Where the program's standard output goes.
enum class StandardOutput {
    captured,     // into RunResult::out
    closed,       // nowhere: descriptor 1 is not open
    broken_pipe,  // a pipe whose reader has gone, SIGPIPE ignored
};

struct RunOptions {
    std::string argv0;             // argv[0]; the binary's path when empty
    std::string cwd;               // working directory; inherited when empty
    std::vector<std::string> env;  // extra NAME=value entries
    StandardOutput standard_output = StandardOutput::captured;
};

// Runs `program` with `args` (argv[1] on), no standard input.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options = {});

// A fresh directory under the system's temporary directory, removed with
// everything inside it when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Writes `contents` to `name` inside the directory; returns the full path.
    std::string write(const std::string &name, const std::string &contents) const;

private:
    std::string path_;
};

std::string read_file_bytes(const std::string &path);
// Names of the entries in `dir`, "." and ".." left out, sorted.
std::vector<std::string> directory_entries(const std::string &dir);

#endif
