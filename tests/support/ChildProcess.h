// ChildProcess: runs a program (the built morvbridge) as a child process with
// extra environment variables, capturing its exit status and output. Tests use
// it with TestOdbcSource::Environment() so the child sees the test DSNs.
#pragma once

#include <string>
#include <vector>

class QProcess;

struct ChildResult
{
    bool started = false;      // false when the program could not be run at all
    bool timedOut = false;     // killed after the time limit
    int exitCode = -1;         // exit status when it ended normally
    std::string standardOutput;
    std::string standardError;
};

// Runs `program` with `arguments`, the current environment plus
// `environment` ("NAME=value" pairs, overriding), in `workingFolder` (the
// current one when empty), with nothing on standard input. Kills it after
// `timeoutMs` milliseconds.
ChildResult RunChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment = {},
                            const std::string& workingFolder = std::string(), int timeoutMs = 120000);

// Starts `program` in `process` as RunChildProcess does, without waiting for
// it to end, for a test that acts while it runs. False when it could not be
// started.
bool StartChildProcess(QProcess& process, const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment = {},
                       const std::string& workingFolder = std::string());

// The "LD_PRELOAD=..." entry that loads `libraries` into a child ahead of
// its own. A sanitizer build's runtime must come first in a child's list of
// libraries or the child dies at start, so the entry leads with the runtime
// this process itself loaded, where it loaded one.
std::string PreloadEntry(const std::vector<std::string>& libraries);

// Whether a child can be run with file permissions binding it: always for an
// ordinary user; for root (CI runs as root) only where setpriv can drop the
// capabilities that override them.
bool CanRunWithFilePermissions();

// RunChildProcess with file permissions binding the child, so that a
// read-only or unreadable file is what it is for an ordinary user. Check
// CanRunWithFilePermissions() first.
ChildResult RunChildProcessWithFilePermissions(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment = {},
                                               const std::string& workingFolder = std::string(),
                                               int timeoutMs = 120000);
