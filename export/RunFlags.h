// What a run exports. The numbers are the documented ones the driver hands
// to the task: the bit of value 1 asks for the full export, the bit of value
// 2 for the update export; -1 (no switch given) and 3 (both switches) ask
// for both. The questions below name each case instead of testing bits, so
// that -1 does not depend on having every bit set.
#pragma once

enum class RunFlags : int {
    Both = -1,
    Full = 1,
    Update = 2,
    FullAndUpdate = 3,
};

// Whether a run with `flags` writes the table files and the import header.
constexpr bool RunsFullExport(RunFlags flags)
{
    return flags == RunFlags::Both || flags == RunFlags::Full || flags == RunFlags::FullAndUpdate;
}

// Whether a run with `flags` writes an update file.
constexpr bool RunsUpdateExport(RunFlags flags)
{
    return flags == RunFlags::Both || flags == RunFlags::Update || flags == RunFlags::FullAndUpdate;
}
