// The settings the import header file and the update file announce in their
// "#pragma" lines, and the blocks every such file is made of: the banner that
// opens it, the pragma lines, and the timing block that closes it. Plain
// functions over the settings, so that the writer only decides when each
// block is written.
#pragma once

#include "util/XDateTime.h"
#include "util/XString.h"

#include <cstdint>

class DelimitedTextWriter;

// One member per pragma the files may carry; a text left empty, a number 0
// and a switch off leave its pragma out.
struct ExportPragmas
{
    XString bridgeAlias;  // the creator; the application's alias when empty
    XString exportSource;
    XString dateFormat = "mm/dd/yyyy";
    XString timeFormat = "HH:NN:SS AA";
    XString dateTimeFormat = "mm/dd/yyyy HH:NN:SS AA";
    bool verify = false;
    XDateTime exportDate;  // stamped by the writer as it writes the pragmas
    XString schoolName;
    XString nameFormat;
    bool gradesDontCreateSections = false;
    bool attendanceDoesntCreateDates = true;
    bool termsAreBins = false;
    bool crsKeyInSecKey = false;  // deprecated: a file asked to carry it is refused
    int32_t maxExpectedTimeSlots = 0;
    int32_t maxExpectedDays = 0;
    int32_t maxExpectedPeriods = 0;
    int32_t maxExpectedTerms = 0;
    int32_t maxExpectedBins = 0;
    XString quotes;
    bool ignoreStaffMultiCal = false;
    bool showInfo = false;
    uint32_t minVersion = 0;  // packed as PackVersion does
};

// The application's identity as the banner and the creator pragma show it.
struct ExportIdentity
{
    XString title;
    XString type;
    XString version;
    XString buildDate;  // "MMM DD YYYY HH:NN:SS"
    XString alias;
};

// Packs a version for the minversion pragma.
uint32_t PackVersion(int major, int minor, int revision, int build);

// The line of 91 "/" (and CR LF) between the blocks of a file.
const XString& SeparatorLine();
// "#pragma <keyword> "<value>"".
XString QuotedPragma(const char* keyword, const XString& value);

// The banner: identity, the time of writing and the do-not-edit warning.
void WriteBanner(DelimitedTextWriter& output, const ExportIdentity& identity);
// The pragma lines, each followed by an empty line. The caller refuses
// crsKeyInSecKey before; it is not written.
void WritePragmas(DelimitedTextWriter& output, const ExportPragmas& pragmas, const ExportIdentity& identity);
// The timing block: start, end and their difference as times of day.
void WriteTimingBlock(DelimitedTextWriter& output, const XDateTime& start, const XDateTime& end);
