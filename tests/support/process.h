// Running the real tool binary and working in a private temporary directory.
#ifndef TESTS_PROCESS_H
#define TESTS_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct RunResult {
    std::string out;  // everything written on standard output
    std::string err;  // everything written on standard error
    int status = -1;  // exit status, or 128 + signal number
};

// Where the program's standard output goes.
enum class StandardOutput {
    captured,     // into RunResult::out
    closed,       // nowhere: descriptor 1 is not open
    broken_pipe,  // a pipe whose reader has gone, SIGPIPE ignored
    all_closed,   // nowhere, and descriptors 0 and 2 are not open either
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

// The words of `text` split at white space, as a shell splits a plain list.
std::vector<std::string> split_words(const std::string &text);

// The words that start `program` with `argv0` (the path when empty): under
// a cross build, the emulator that runs the tests runs the program too.
std::vector<std::string> command_words(const std::string &program, const std::string &argv0 = "");
// True under a cross build, where programs run through the emulator.
bool runs_under_emulator();

// Runs `body` in a child process, without waiting: its result becomes the
// child's exit status, and whatever it changes in the process (limits,
// filters, the environment) ends with it.
pid_t start_child(const std::function<int()> &body);
// The wait status of `pid` once it has ended.
int wait_status(pid_t pid);
// A wait status as a shell shows it: the exit status, or 128 + the signal.
int exit_status(int status);
// `body` run by start_child, waited for; its exit status.
int in_child(const std::function<int()> &body);

std::string read_file_bytes(const std::string &path);
// Names of the entries in `dir`, "." and ".." left out, sorted.
std::vector<std::string> directory_entries(const std::string &dir);

#endif
