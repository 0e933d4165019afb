// The levels of a log record. The numbers are the documented ones that the
// log manager compares (lower is more severe) and that stored settings hold,
// so each name keeps its number.
#pragma once

namespace LogLevel {

enum Level : int {
    None = -1,  // written nowhere
    Emergency = 0,
    Alert = 1,
    Critical = 2,
    Error = 3,  // and more severe: written whatever the log mode
    Warning = 4,
    Progress = 5,         // also a progress step
    ProgressWarning = 6,  // also a progress warning; has no name
    Informational = 7,    // the last level echoed to the console
    Debug = 8,
    Proprietary = 9,  // file only, Base64-encoded
};

} // namespace LogLevel
