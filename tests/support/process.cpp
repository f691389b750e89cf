#include "process.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace {

// JSONTREE_TOOL_WRAPPER (a checker such as valgrind) runs every start of the
// tool, and only of the tool.
std::vector<std::string> tool_wrapper_words(const std::string &program)
{
    const char *wrapper = getenv("JSONTREE_TOOL_WRAPPER");
    if (!wrapper || program != CONFIGURE_QRN_BIN)
        return {};
    return split_words(wrapper);
}

// A wrapper starts the tool by the name it is given and passes that name on
// as argv[0]. A plain name is made to lead to the tool by a link of that name
// in a private directory put first on PATH; any other argv[0] gives way to
// the binary's path.
class ProgramAlias {
public:
    ProgramAlias(const std::string &program, const std::string &argv0) : name_(program)
    {
        if (argv0.empty() || argv0.find('/') != std::string::npos)
            return;
        dir_ = std::make_unique<TempDir>();
        if (symlink(program.c_str(), dir_->file(argv0).c_str()) != 0)
            throw std::runtime_error("cannot link " + argv0 + " to " + program);
        name_ = argv0;
    }
    const std::string &name() const { return name_; }
    // `entry` of the environment, with PATH led by the alias directory.
    std::string environment_entry(const std::string &entry) const
    {
        return dir_ && entry.starts_with("PATH=") ? "PATH=" + dir_->path() + ":" + entry.substr(5)
                                                  : entry;
    }

private:
    std::unique_ptr<TempDir> dir_;
    std::string name_;
};

}  // namespace

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options)
{
    std::vector<std::string> argv_text = tool_wrapper_words(program);
    [[maybe_unused]] const bool wrapped = !argv_text.empty();
    std::optional<ProgramAlias> alias;
    if (wrapped)
        alias.emplace(program, options.argv0);
    std::vector<std::string> command =
        command_words(program, alias ? alias->name() : options.argv0);
    argv_text.insert(argv_text.end(), command.begin(), command.end());
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &arg : argv_text)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_text;
    for (char **entry = environ; *entry; entry++)
        env_text.push_back(alias ? alias->environment_entry(*entry) : *entry);
    env_text.insert(env_text.end(), options.env.begin(), options.env.end());
    std::vector<char *> envp;
    for (auto &entry : env_text)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(out_pipe[1]);
        if (options.standard_output == StandardOutput::closed)
            close(1);
        if (options.standard_output == StandardOutput::all_closed) {
            close(0);
            close(1);
            close(2);
        }
        if (options.standard_output == StandardOutput::broken_pipe) {
            // An ignored signal stays ignored across exec.
            int broken[2];
            if (pipe(broken) != 0 || dup2(broken[1], 1) < 0)
                _exit(126);
            close(broken[0]);
            close(broken[1]);
            signal(SIGPIPE, SIG_IGN);
        }
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
#ifdef TEST_PROGRAM_EMULATOR
        execvpe(argv[0], argv.data(), envp.data());
#else
        if (wrapped)
            execvpe(argv[0], argv.data(), envp.data());
        else
            execve(program.c_str(), argv.data(), envp.data());
#endif
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_fds = 2;
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_fds--;
            }
        }
    }
    result.status = exit_status(wait_status(pid));
    return result;
}

std::vector<std::string> split_words(const std::string &text)
{
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// Under the emulator the program is an argument of the loader it runs, and
// the loader's --argv0 names the argv[0] the program should see.
std::vector<std::string> command_words(const std::string &program, const std::string &argv0)
{
    const std::string &shown_name = argv0.empty() ? program : argv0;
#ifdef TEST_PROGRAM_EMULATOR
    std::vector<std::string> words = split_words(TEST_PROGRAM_EMULATOR);
    words.insert(words.end(), {"--argv0", shown_name, program});
    return words;
#else
    return {shown_name};
#endif
}

bool runs_under_emulator()
{
#ifdef TEST_PROGRAM_EMULATOR
    return true;
#else
    return false;
#endif
}

pid_t start_child(const std::function<int()> &body)
{
    // Buffered output would otherwise be written twice, once by each process.
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    return pid;
}

int wait_status(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int in_child(const std::function<int()> &body)
{
    return exit_status(wait_status(start_child(body)));
}

TempDir::TempDir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/jsontree-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    nftw(
        path_.c_str(),
        [](const char *path, const struct stat *, int, struct FTW *) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::write(const std::string &name, const std::string &contents) const
{
    std::string full = file(name);
    std::ofstream stream(full, std::ios::binary | std::ios::trunc);
    stream << contents;
    if (!stream)
        throw std::runtime_error("cannot write " + full);
    return full;
}

std::string read_file_bytes(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

std::vector<std::string> directory_entries(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *handle = opendir(dir.c_str())) {
        while (dirent *entry = readdir(handle)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(handle);
    }
    std::sort(names.begin(), names.end());
    return names;
}
