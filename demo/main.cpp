// morvbridge-demo-db: writes the demo school database that `morvbridge run --demo`
// and the tests read in place of a school's SIS server.
#include "demo/DemoGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

const char* const kUsage =
    "Usage: morvbridge-demo-db [--out=FILE] [--students=N] [--seed=N] [--no-optional] [--no-islive]\n"
    "  --out=FILE      database file to write (replaced when complete; default morv-demo.db)\n"
    "  --students=N    students of the main building, 1 to 1000000 (default 300)\n"
    "  --seed=N        seed of the generator, 0 to 4294967295 (default 20260101)\n"
    "  --no-optional   leave out StudentLocker_cy, StudentFees and StudentDiscipline\n"
    "  --no-islive     school table without the IsLive column\n"
    "  --help          this text\n";

bool ReadNumber(const std::string& text, unsigned long long max, unsigned long long& value)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return value <= max;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "morvbridge-demo-db: %s\n%s", message.c_str(), kUsage);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    demo::DemoOptions options;
    std::string out = "morv-demo.db";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        const std::string key = arg.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        unsigned long long number = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (key == "--out" && eq != std::string::npos) {
            if (value.empty())
                return Fail("--out needs a file name");
            out = value;
        } else if (key == "--students" && eq != std::string::npos) {
            if (!ReadNumber(value, 1000000, number) || number < 1)
                return Fail("--students needs a whole number from 1 to 1000000, not '" + value + "'");
            options.students = static_cast<int>(number);
        } else if (key == "--seed" && eq != std::string::npos) {
            if (!ReadNumber(value, 4294967295ull, number))
                return Fail("--seed needs a whole number from 0 to 4294967295, not '" + value + "'");
            options.seed = static_cast<std::uint32_t>(number);
        } else if (arg == "--no-optional") {
            options.optionalTables = false;
        } else if (arg == "--no-islive") {
            options.schoolIsLive = false;
        } else {
            return Fail("unknown argument '" + arg + "'");
        }
    }

    try {
        const auto counts = demo::DemoGenerator::WriteFile(out, options);
        std::printf("Wrote %s (%d students in building %s, seed %u)\n", out.c_str(), options.students,
                    demo::school::kMainBuilding, options.seed);
        for (const auto& count : counts)
            std::printf("%-24s %10lld\n", count.name.c_str(), count.rows);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvbridge-demo-db: cannot write %s: %s\n", out.c_str(), error.what());
        return 1;
    }
    return 0;
}
