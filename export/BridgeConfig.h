// Access to the bridge configuration record, SchoolConfig.xml in the PDE
// folder: what the previous run read (source, version, school, year) and
// where it stopped (update date). A missing or unreadable record reads as
// null dates and empty texts; reading never creates the file. One table of
// fields (BridgeConfig.cpp) names every line of the record: the readers,
// the check for a changed source and the save all go by it.
#pragma once

#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

// One line of the record: <element attribute="value"/>.
struct BridgeConfigItem
{
    XString element;
    XString attribute;
    XString value;
};
using BridgeConfigItems = std::vector<BridgeConfigItem>;

// The lines of the record, in file order. The first nine name the source a
// run read; the save writes all of them.
enum class RunRecordField {
    Sis,
    BridgeVersion,
    SchoolNumber,
    District,
    SchoolYear,
    Dsn,
    MasterFile,
    MasterFolder,
    SecurityFile,
    GlobalFolder,
    UpdateDate,
    UpdateDateTime,
    OverlapInDays,
    LogLevel,
};
constexpr size_t kRunRecordFieldCount = 14;

// The record as the current run would write it: one value per field.
class RunRecord
{
public:
    void Set(RunRecordField field, const XString& value) { m_values[static_cast<size_t>(field)] = value; }
    const XString& Get(RunRecordField field) const { return m_values[static_cast<size_t>(field)]; }

    // True when `stored` (as ReadBridgeConfig gives it) is not the record of
    // this run's source: it holds other than one known line per field, or a
    // source field's value differs in more than letter case. Each differing
    // source field is told to `report` as "<name> Changed. Old=<stored>
    // new=<current>".
    bool SourceChanged(const BridgeConfigItems& stored, const std::function<void(const XString&)>& report) const;
    // Every field with its value, in file order.
    BridgeConfigItems Items() const;

private:
    std::array<XString, kRunRecordFieldCount> m_values;
};

// The record's file inside `folder`.
XFileSpec BridgeConfigSpec(const XFileSpec& folder);

XDate GetUpdateDate(const XFileSpec& folder);
XDateTime GetUpdateDateTime(const XFileSpec& folder);
XString GetOverlapInDays(const XFileSpec& folder);
// Raises "No support for relative paths: %s" for a relative value.
XFileSpec GetGlobalFolder(const XFileSpec& folder);

// Every known item of the record, in file order (a duplicated line appears
// twice); nothing for a missing record.
void ReadBridgeConfig(const XFileSpec& folder, BridgeConfigItems& items);
// Rewrites the record with `items` in order.
void WriteBridgeConfig(const XFileSpec& folder, const BridgeConfigItems& items);
// The same record written into `file` (a run's temporary file for it).
void WriteBridgeConfigFile(const XFileSpec& file, const BridgeConfigItems& items);
