// Reading and writing SchoolConfig.xml, one element with one attribute per
// line. Reading checks that the record exists first, so a first run in an
// empty folder leaves no empty record behind.
#include "export/BridgeConfig.h"

#include "util/XXmlReader.h"
#include "util/XXmlWriter.h"

namespace {

const char* const kRoot = "SchoolConfig";

// The fourteen element/attribute pairs a record holds, in record order.
const char* const kItems[][2] = {
    {"SIS", "SISValue"},
    {"LastBridgeVersion", "LastBridgeVersionValue"},
    {"LastSchoolNumber", "LastSchoolNumberValue"},
    {"LastDistrict", "LastDistrictValue"},
    {"LastSchoolYear", "LastSchoolYearValue"},
    {"LastDSN", "LastDSNValue"},
    {"LastMasterFile", "LastMasterFileValue"},
    {"LastMasterFolder", "LastMasterFolderValue"},
    {"LastSecurityFile", "LastSecurityFileValue"},
    {"GlobalFolder", "GlobalFolderValue"},
    {"UpdateDate", "UpdateDateValue"},
    {"UpdateDateTime", "UpdateDateTimeValue"},
    {"OverlapInDays", "OverlapValue"},
    {"LastBridgeLogLevel", "LastBridgeLogLevelValue"},
};

// Calls visit(element, first attribute name, its value) for every element
// line of the record; nothing when the record is missing or not rooted in
// SchoolConfig.
template <class Visit>
void WalkRecord(const XFileSpec& folder, Visit visit)
{
    const XFileSpec spec = BridgeConfigSpec(folder);
    if (!spec.Exists())
        return;
    XXmlReader reader;
    if (reader.Open(spec, kRoot)) {
        XString element, attribute, value;
        while (reader.NextElement(element)) {
            if (reader.NextAttribute(attribute, value))
                visit(element, attribute, value);
            reader.SkipLine();
        }
    }
    reader.Close();
}

// The value of the last line with this element and attribute; empty when none.
XString ReadValue(const XFileSpec& folder, const char* element, const char* attribute, bool& found)
{
    XString result;
    found = false;
    WalkRecord(folder, [&](const XString& e, const XString& a, const XString& v) {
        if (e == element && a == attribute) {
            result = v;
            found = true;
        }
    });
    return result;
}

// A date or date-time value read with `format`; the empty value when the
// record has none.
template <class Value>
Value ReadParsed(const XFileSpec& folder, const char* element, const char* attribute, const char* format)
{
    bool found = false;
    const XString text = ReadValue(folder, element, attribute, found);
    Value value;
    if (found)
        value.Parse(format, text);
    return value;
}

} // namespace

XFileSpec BridgeConfigSpec(const XFileSpec& folder)
{
    XFileSpec spec = folder;
    spec.EnsureTrailingBackslash();
    spec.AppendName("SchoolConfig.xml");
    return spec;
}

XDate GetUpdateDate(const XFileSpec& folder)
{
    return ReadParsed<XDate>(folder, "UpdateDate", "UpdateDateValue", "dd-mmm-yyyy");
}

XDateTime GetUpdateDateTime(const XFileSpec& folder)
{
    return ReadParsed<XDateTime>(folder, "UpdateDateTime", "UpdateDateTimeValue", "dd-mmm-yyyy hh:nn:ss");
}

XString GetOverlapInDays(const XFileSpec& folder)
{
    bool found = false;
    return ReadValue(folder, "OverlapInDays", "OverlapValue", found);
}

XFileSpec GetGlobalFolder(const XFileSpec& folder)
{
    bool found = false;
    const XString text = ReadValue(folder, "GlobalFolder", "GlobalFolderValue", found);
    if (text.IsEmpty())
        return XFileSpec();
    // The setting names a folder, with or without its trailing backslash;
    // read as a file path its last component would be lost.
    XFileSpec global(text);
    global.EnsureTrailingBackslash();
    return global;
}

void ReadBridgeConfig(const XFileSpec& folder, BridgeConfigItems& items)
{
    items.clear();
    WalkRecord(folder, [&](const XString& e, const XString& a, const XString& v) {
        for (const auto& item : kItems)
            if (e == item[0] && a == item[1]) {
                items.push_back({e, a, v});
                break;
            }
    });
}

void WriteBridgeConfig(const XFileSpec& folder, const BridgeConfigItems& items)
{
    WriteBridgeConfigFile(BridgeConfigSpec(folder), items);
}

void WriteBridgeConfigFile(const XFileSpec& file, const BridgeConfigItems& items)
{
    XXmlWriter writer;
    writer.StartDocument(file, kRoot, false);
    for (const BridgeConfigItem& item : items) {
        writer.StartElement(item.element);
        writer.Attribute(item.attribute, item.value);
        writer.EndStartTag(true);
    }
    writer.EndDocument();
}
