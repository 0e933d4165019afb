// The child-process runner hands the test DSN environment to the child and
// reports what the child did: its exit status, both outputs, a failed start
// and a time-out.
#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestOdbcSource.h"

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
