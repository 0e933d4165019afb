// What a generated demo school database looks like: its size, its seed and
// which of the site-dependent schema variants it takes.
#pragma once

#include <cstdint>
#include <string>

namespace demo {

struct DemoOptions {
    // Students of the main building in the live year; the other buildings
    // get a fifth of this each (at least a handful).
    int students = 300;
    // Deterministic: the same seed gives the same database, byte for byte.
    std::uint32_t seed = 20260101;
    // The locker view and the fee and discipline tables are missing at some
    // sites; false leaves them out.
    bool optionalTables = true;
    // Older sites have no IsLive column in the school table; the live year
    // is then the highest year.
    bool schoolIsLive = true;
};

// Fixed facts of the generated school, so tests can ask for them by name.
namespace school {
inline constexpr const char* kMainBuilding = "0301";
inline constexpr const char* kLiveYear = "2026";
inline constexpr const char* kPreviousYear = "2025";
// Rolled-over next year, present only when the school table has IsLive.
inline constexpr const char* kNextYear = "2027";
// First day and last day of the live school year.
inline constexpr const char* kFirstDay = "2025-08-25";
inline constexpr const char* kLastDay = "2026-06-05";
}  // namespace school

}  // namespace demo
