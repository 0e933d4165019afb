// Reading and writing SchoolConfig.xml, one element with one attribute per
// line. Reading checks that the record exists first, so a first run in an
// empty folder leaves no empty record behind.
#include "export/BridgeConfig.h"

#include "util/XXmlReader.h"
#include "util/XXmlWriter.h"

namespace {

const char* const kRoot = "SchoolConfig";

// One line of the record: its element, its attribute, and for a field that
// names the source the word the change check reports it by.
struct FieldName
{
    RunRecordField field;
    const char* element;
    const char* attribute;
    const char* sourceWord;
};

// Every line of the record, in record order (the order of RunRecordField).
constexpr FieldName kFields[] = {
    {RunRecordField::Sis, "SIS", "SISValue", "SIS"},
    {RunRecordField::BridgeVersion, "LastBridgeVersion", "LastBridgeVersionValue", "Version"},
    {RunRecordField::SchoolNumber, "LastSchoolNumber", "LastSchoolNumberValue", "School"},
    {RunRecordField::District, "LastDistrict", "LastDistrictValue", "District"},
    {RunRecordField::SchoolYear, "LastSchoolYear", "LastSchoolYearValue", "Year"},
    {RunRecordField::Dsn, "LastDSN", "LastDSNValue", "DSN"},
    {RunRecordField::MasterFile, "LastMasterFile", "LastMasterFileValue", "MasterFile"},
    {RunRecordField::MasterFolder, "LastMasterFolder", "LastMasterFolderValue", "MasterFolder"},
    {RunRecordField::SecurityFile, "LastSecurityFile", "LastSecurityFileValue", "Security File"},
    {RunRecordField::GlobalFolder, "GlobalFolder", "GlobalFolderValue", nullptr},
    {RunRecordField::UpdateDate, "UpdateDate", "UpdateDateValue", nullptr},
    {RunRecordField::UpdateDateTime, "UpdateDateTime", "UpdateDateTimeValue", nullptr},
    {RunRecordField::OverlapInDays, "OverlapInDays", "OverlapValue", nullptr},
    {RunRecordField::LogLevel, "LastBridgeLogLevel", "LastBridgeLogLevelValue", nullptr},
};

constexpr bool OneNamePerFieldInOrder()
{
    if (sizeof kFields / sizeof kFields[0] != kRunRecordFieldCount)
        return false;
    for (size_t i = 0; i < kRunRecordFieldCount; ++i)
        if (static_cast<size_t>(kFields[i].field) != i)
            return false;
    return true;
}
static_assert(OneNamePerFieldInOrder(), "kFields names every RunRecordField once, in its order");

const FieldName& NameOf(RunRecordField field)
{
    return kFields[static_cast<size_t>(field)];
}

// Calls visit(element, first attribute name, its value) for every readable
// element line of the record; nothing when the record is missing or not rooted in
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
            // A value with "<" is not one the record's writer makes (it is no
            // XML): a damaged or hand-edited line, read as missing. Taken as
            // read, a run would carry it into its own save and fail there.
            if (reader.NextAttribute(attribute, value) && value.Find('<') == value.GetLength())
                visit(element, attribute, value);
            reader.SkipLine();
        }
    }
    reader.Close();
}

// The value of the last line of `field`; empty when none.
XString ReadValue(const XFileSpec& folder, RunRecordField field, bool& found)
{
    const FieldName& name = NameOf(field);
    XString result;
    found = false;
    WalkRecord(folder, [&](const XString& e, const XString& a, const XString& v) {
        if (e == name.element && a == name.attribute) {
            result = v;
            found = true;
        }
    });
    return result;
}

// A date or date-time value read with `format`; the empty value when the
// record has none.
template <class Value>
Value ReadParsed(const XFileSpec& folder, RunRecordField field, const char* format)
{
    bool found = false;
    const XString text = ReadValue(folder, field, found);
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
    return ReadParsed<XDate>(folder, RunRecordField::UpdateDate, "dd-mmm-yyyy");
}

XDateTime GetUpdateDateTime(const XFileSpec& folder)
{
    return ReadParsed<XDateTime>(folder, RunRecordField::UpdateDateTime, "dd-mmm-yyyy hh:nn:ss");
}

XString GetOverlapInDays(const XFileSpec& folder)
{
    bool found = false;
    return ReadValue(folder, RunRecordField::OverlapInDays, found);
}

XFileSpec GetGlobalFolder(const XFileSpec& folder)
{
    bool found = false;
    const XString text = ReadValue(folder, RunRecordField::GlobalFolder, found);
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
        for (const FieldName& name : kFields)
            if (e == name.element && a == name.attribute) {
                items.push_back({e, a, v});
                break;
            }
    });
}

bool RunRecord::SourceChanged(const BridgeConfigItems& stored,
                              const std::function<void(const XString&)>& report) const
{
    if (stored.size() != kRunRecordFieldCount)
        return true;
    bool changed = false;
    for (const BridgeConfigItem& item : stored) {
        for (const FieldName& name : kFields) {
            if (item.element.CompareNoCase(name.element) != 0 || item.attribute.CompareNoCase(name.attribute) != 0)
                continue;
            const XString& current = Get(name.field);
            if (name.sourceWord && item.value.CompareNoCase(current) != 0) {
                report(XString(name.sourceWord) + " Changed. Old=" + item.value + " new=" + current);
                changed = true;
            }
            break;
        }
    }
    return changed;
}

BridgeConfigItems RunRecord::Items() const
{
    BridgeConfigItems items;
    for (const FieldName& name : kFields)
        items.push_back({name.element, name.attribute, Get(name.field)});
    return items;
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
