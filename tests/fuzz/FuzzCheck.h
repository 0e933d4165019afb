// What every fuzz target shares: a broken invariant stops the process with
// the input's description, which libFuzzer reports as a crash and keeps as
// a reproducer; and a private scratch folder for targets that read files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

// Stops the run when `condition` does not hold: the fuzzer keeps the input.
#define FUZZ_CHECK(condition, what)                                                                                   \
    do {                                                                                                              \
        if (!(condition)) {                                                                                           \
            std::fprintf(stderr, "invariant broken: %s\n  at %s:%d: %s\n", std::string(what).c_str(), __FILE__,       \
                         __LINE__, #condition);                                                                       \
            std::abort();                                                                                             \
        }                                                                                                             \
    } while (false)

// A folder of this process's own under the temporary folder, made once and
// removed when the process ends normally.
inline const std::string &FuzzScratchFolder()
{
    static const std::string folder = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/morv-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string removeCommand = "rm -rf '" + pattern + "'";
        std::atexit([] { (void)std::system(removeCommand.c_str()); });
        return pattern;
    }();
    return folder;
}

// Writes `size` bytes to `path`, replacing it, readable by its owner only.
inline void FuzzWriteFile(const std::string &path, const uint8_t *data, size_t size)
{
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, "cannot write " + path);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0, "cannot write " + path);
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}
