// Access to the bridge configuration record, SchoolConfig.xml in the PDE
// folder: what the previous run read (source, version, school, year) and
// where it stopped (update date). A missing or unreadable record reads as
// null dates and empty texts; reading never creates the file.
#pragma once

#include "util/XDate.h"
#include "util/XDateTime.h"
#include "util/XFileSpec.h"
#include "util/XString.h"

#include <vector>

// One line of the record: <element attribute="value"/>.
struct BridgeConfigItem
{
    XString element;
    XString attribute;
    XString value;
};
using BridgeConfigItems = std::vector<BridgeConfigItem>;

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
