// The child-process runner hands the test DSN environment to the child and
// reports what the child did: its exit status, both outputs, a failed start
// and a time-out. The prerequisite check names what is missing.
#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/TestOdbcSource.h"

#include <cstdlib>
#include <string>
#include <utility>

namespace {

TEST(ChildProcess, ChildSeesTheSourceAndItsResultIsReported)
{
    TestOdbcSource source("MorvChild");
    const ChildResult r = RunChildProcess(
        "/bin/sh", {"-c", "printf '%s|%s' \"$ODBCINI\" \"$ODBCSYSINI\"; printf 'oops' >&2; exit 3"},
        source.Environment());
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.standardOutput, source.OdbcIniPath() + "|" + source.Folder());
    EXPECT_EQ(r.standardError, "oops");
}

TEST(ChildProcess, MissingProgramAndTimeOutAreTold)
{
    const ChildResult missing = RunChildProcess("/nonexistent/morvbridge", {});
    EXPECT_FALSE(missing.started);

    const ChildResult slow = RunChildProcess("/bin/sleep", {"10"}, {}, std::string(), 200);
    EXPECT_TRUE(slow.started);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_EQ(slow.exitCode, -1);
}

}  // namespace

namespace {

// A missing program is named with the package that brings it; the switch
// that turns skips into failures reads "1" as on and "0" or nothing as off.
TEST(Prerequisite, NamesAMissingProgramAndReadsTheSwitch)
{
    EXPECT_EQ(MissingProgram("sh", "dash"), "");
    EXPECT_EQ(MissingProgram("no-such-program-here", "nosuch"),
              "no-such-program-here is not installed (scripts/setup installs nosuch)");
    const char* const saved = std::getenv(kRequirePrerequisitesVariable);
    const std::string before = saved ? saved : "";
    for (const auto& [value, required] : {std::pair<const char*, bool>{"1", true}, {"0", false}, {"", false}}) {
        setenv(kRequirePrerequisitesVariable, value, 1);
        EXPECT_EQ(PrerequisitesRequired(), required) << value;
    }
    if (saved)
        setenv(kRequirePrerequisitesVariable, before.c_str(), 1);
    else
        unsetenv(kRequirePrerequisitesVariable);
}

} // namespace
