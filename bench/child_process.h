// A benchmark's child process: started with a private environment and its
// standard streams on /dev/null (standard input from a file when given),
// timed, and its peak resident memory read from the child itself while it
// runs, since the kernel's figure at exit carries over the memory of the
// benchmark process that spawned it.
#pragma once

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

struct ChildStats {
    bool ok = false;
    double seconds = 0;
    long peakRssKiB = 0;
};

inline ChildStats Spawn(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& extraEnvironment,
                        const std::string& input = "/dev/null")
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment(extraEnvironment);
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    ChildStats stats;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return stats;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0)
            return stats;
        std::ifstream proc("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(proc, line))
            if (line.rfind("VmHWM:", 0) == 0)
                stats.peakRssKiB = std::max(stats.peakRssKiB, std::stol(line.substr(6)));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stats.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return stats;
}
