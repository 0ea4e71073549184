#include "support/background_program.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fennick::test {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string word = *entry;
        const auto equals = word.find('=');
        if (equals != std::string::npos)
            variables[word.substr(0, equals)] = word.substr(equals + 1);
    }
    for (const std::string& change : changes) {
        const auto equals = change.find('=');
        if (equals == std::string::npos)
            variables.erase(change);
        else
            variables[change.substr(0, equals)] = change.substr(equals + 1);
    }
    std::vector<std::string> words;
    for (const auto& [name, value] : variables)
        words.push_back(name + "=" + value);
    return words;
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

int statusOf(int raw) {
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw))
        return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const ChildOptions& options, int pipeWriteEnd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (pipeWriteEnd >= 0)
        posix_spawn_file_actions_adddup2(&actions, pipeWriteEnd, 3);
    if (!options.workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());
    // A group of its own, so that stopping it also stops what it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = mergedEnvironment(options.environment);
    const std::vector<char*> argumentPointers = pointersTo(arguments);
    const std::vector<char*> environmentPointers = pointersTo(environment);
    const int failed = posix_spawnp(&pid_, argv.at(0).c_str(), &actions, &attributes,
                                    argumentPointers.data(), environmentPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error("cannot start " + argv.at(0) + ": " + std::strerror(failed));
}

Child::~Child() {
    stop();
}

std::optional<int> Child::waitFor(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!status_) {
        int raw = 0;
        const pid_t ended = waitpid(pid_, &raw, WNOHANG);
        if (ended == pid_) {
            status_ = statusOf(raw);
            break;
        }
        if (ended < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
}

bool Child::running() {
    return !waitFor(std::chrono::milliseconds(0));
}

void Child::stop() {
    if (pid_ <= 0 || status_)
        return;
    // Not yet reaped, so the group's id is still ours.
    kill(-pid_, SIGTERM);
    if (!waitFor(std::chrono::seconds(3))) {
        kill(-pid_, SIGKILL);
        waitFor(std::chrono::seconds(3));
    }
}

Captured runShell(const std::string& command, int seconds) {
    const std::string wrapped = "timeout -k 2 " + std::to_string(seconds) + " sh -c " +
                                shellQuoted(command) + " </dev/null";
    Captured captured;
    FILE* pipe = popen(wrapped.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + command);
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        captured.output.append(buffer, count);
    captured.status = statusOf(pclose(pipe));
    return captured;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool onPath(const std::string& program) {
    return runShell("command -v " + shellQuoted(program) + " >/dev/null", 10).status == 0;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace fennick::test
