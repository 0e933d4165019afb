// What a test does when something it needs from the machine is missing (a
// PostgreSQL server, the FreeTDS driver, root for a tmpfs, /dev/full, a tool
// such as strace). On a developer's machine it skips, saying what is missing.
// Where every prerequisite must be present (CI, whose scripts install them
// all, sets MORV_REQUIRE_PREREQUISITES=1) a skip would only hide a broken
// install step, so the test fails instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

inline constexpr const char* kRequirePrerequisitesVariable = "MORV_REQUIRE_PREREQUISITES";

inline bool PrerequisitesRequired()
{
    const char* value = std::getenv(kRequirePrerequisitesVariable);
    return value && *value && std::strcmp(value, "0") != 0;
}

// Empty when `program` (strace, say) is on PATH; otherwise why not, naming
// the Debian package that brings it, for MISSING_PREREQUISITE.
inline std::string MissingProgram(const std::string& program, const std::string& package)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0)
            return std::string();
        start = end + 1;
    }
    return program + " is not installed (scripts/setup installs " + package + ")";
}

// Ends the test (or its SetUp) because `why` is missing: a skip, or a failure
// where prerequisites are required. Use it as a statement where the check
// found something missing; like GTEST_SKIP it returns from the calling
// function.
#define MISSING_PREREQUISITE(why)                                                                          \
    do {                                                                                                   \
        const std::string missingPrerequisite_ = (why);                                                    \
        if (PrerequisitesRequired())                                                                       \
            GTEST_FAIL() << "missing prerequisite: " << missingPrerequisite_ << " ("                      \
                         << kRequirePrerequisitesVariable << " is set, so it must be installed)";          \
        GTEST_SKIP() << missingPrerequisite_;                                                              \
    } while (false)

