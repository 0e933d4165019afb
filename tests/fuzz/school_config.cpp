// SchoolConfig.xml, the bridge's record of its previous run, read from a
// damaged or hand-edited file as a run reads it: the items, the update date
// and time, the overlap and the global folder. Whatever the file holds:
// only known lines are taken; what the bridge writes back from them reads
// back the same; the dates it parsed survive their own format; a record
// compared with itself has not changed source.
#include "export/BridgeConfig.h"
#include "tests/fuzz/FuzzCheck.h"
#include "util/XException.h"

#include <set>
#include <utility>

#include <sys/stat.h>

namespace {

std::string Describe(const BridgeConfigItems &items)
{
    std::string text;
    for (const BridgeConfigItem &item : items)
        text += item.element.str() + " " + item.attribute.str() + "=[" + item.value.str() + "]\n";
    return text;
}

bool Same(const BridgeConfigItems &a, const BridgeConfigItems &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].element != b[i].element || a[i].attribute != b[i].attribute || a[i].value != b[i].value)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string readFolder = FuzzScratchFolder() + "/read";
    static const std::string writeFolder = FuzzScratchFolder() + "/write";
    static const int made = ::mkdir(readFolder.c_str(), 0700) + ::mkdir(writeFolder.c_str(), 0700);
    (void)made;
    const XFileSpec folder = XFileSpec::FromNativePath(readFolder + "/");
    FuzzWriteFile(readFolder + "/SchoolConfig.xml", data, size);

    BridgeConfigItems items;
    ReadBridgeConfig(folder, items);
    const XDate updateDate = GetUpdateDate(folder);
    const XDateTime updateTime = GetUpdateDateTime(folder);
    (void)GetOverlapInDays(folder);
    try {
        (void)GetGlobalFolder(folder);
    } catch (const XException &) {
        // A relative global folder is refused with a message.
    }

    // Only the record's own lines, each under its own attribute.
    const BridgeConfigItems known = RunRecord().Items();
    std::set<std::pair<std::string, std::string>> names;
    for (const BridgeConfigItem &item : known)
        names.insert({item.element.str(), item.attribute.str()});
    for (const BridgeConfigItem &item : items)
        FUZZ_CHECK(names.count({item.element.str(), item.attribute.str()}) == 1, "unknown line read: " + Describe(items));

    // What a run saves from these values reads back as it was saved.
    const XFileSpec other = XFileSpec::FromNativePath(writeFolder + "/");
    WriteBridgeConfig(other, items);
    BridgeConfigItems again;
    ReadBridgeConfig(other, again);
    FUZZ_CHECK(Same(items, again), "saved record reads back otherwise:\n" + Describe(items) + "--\n" + Describe(again));

    if (!updateDate.IsNull()) {
        XDate parsed;
        parsed.Parse("dd-mmm-yyyy", updateDate.Format("dd-mmm-yyyy").c_str());
        FUZZ_CHECK(parsed == updateDate, "update date does not survive its format: " + updateDate.Format("dd-mmm-yyyy").str());
    }
    if (!updateTime.IsNull()) {
        XDateTime parsed;
        const XString text = updateTime.Format("dd-mmm-yyyy hh:nn:ss");
        parsed.Parse("dd-mmm-yyyy hh:nn:ss", text.c_str());
        FUZZ_CHECK(parsed.Format("dd-mmm-yyyy hh:nn:ss") == text, "update time does not survive its format: " + text.str());
    }

    // The stored record, taken as this run's own, names the same source.
    if (items.size() == known.size()) {
        RunRecord current;
        std::set<std::string> seen;
        for (size_t field = 0; field < known.size(); ++field) {
            for (const BridgeConfigItem &item : items) {
                if (item.element == known[field].element)
                    current.Set(static_cast<RunRecordField>(field), item.value);
            }
        }
        std::string reported;
        const bool changed = current.SourceChanged(items, [&reported](const XString &line) { reported += line.str() + "\n"; });
        bool eachOnce = true;
        for (const BridgeConfigItem &item : items)
            eachOnce = seen.insert(item.element.str()).second && eachOnce;
        if (eachOnce)
            FUZZ_CHECK(!changed, "a record differs from itself: " + reported);
    }
    return 0;
}
