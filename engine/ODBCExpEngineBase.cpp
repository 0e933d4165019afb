// Shared services of the MORV table declarations: quoting, the student filter
// and its condition blocks, and the included-students list with its row test.
#include "engine/ODBCExpEngineBase.h"

#include "data/DatabaseTypes.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace {
// Existence checks on, so optional tables and columns can be skipped.
constexpr uint32_t kEngineOptions = DataAccessOption::VerifySchema;

// A text without the isspace bytes at its ends, as XString::Trim leaves it,
// up to a zero byte.
std::string_view Trimmed(const char* text)
{
    std::string_view view(text);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.front())))
        view.remove_prefix(1);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.back())))
        view.remove_suffix(1);
    return view;
}

// Whether an entry of the included-students list (zero-ended) is `key`
// (which holds no zero byte).
bool EntryIs(const char* entry, std::string_view key)
{
    return std::strncmp(entry, key.data(), key.size()) == 0 && entry[key.size()] == '\0';
}

// FNV-1a of the bytes.
uint32_t Hash(std::string_view key)
{
    uint32_t hash = 2166136261u;
    for (const char c : key)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}
} // namespace

ODBCExpEngineBase::ODBCExpEngineBase(QObject* parent)
    : ODBCDataAccess(kEngineOptions, DatabaseType::MSSQL, parent)
{
}

ODBCExpEngineBase::~ODBCExpEngineBase() = default;

QStringList ODBCExpEngineBase::SplitActiveCodes(const XString& codes)
{
    QStringList result;
    for (const QString& item : QString::fromLatin1(codes.c_str()).split(',')) {
        const QString code = item.trimmed();
        if (!code.isEmpty())
            result << code;
    }
    return result;
}

bool ODBCExpEngineBase::IsActiveStatus(const XString& status) const
{
    const QString code = QString::fromLatin1(status.c_str()).trimmed();
    return code == "A" || code == "N" || code == "U" || m_activeCodes.contains(code);
}

bool ODBCExpEngineBase::IsIncludedStudent(const XString& studentNumber) const
{
    if (m_includedSlots.empty())
        return false;
    return m_includedSlots[IncludedSlot(Trimmed(studentNumber.c_str()))] != 0;
}

size_t ODBCExpEngineBase::IncludedSlot(std::string_view number) const
{
    // Linear probing from the number's hash: its own slot, or the free one
    // that ends its run.
    const size_t size = m_includedSlots.size();
    size_t slot = Hash(number) % size;
    while (m_includedSlots[slot] != 0 && !EntryIs(m_includedText.data() + m_includedSlots[slot] - 1, number))
        slot = slot + 1 == size ? 0 : slot + 1;
    return slot;
}

int ODBCExpEngineBase::IncludedStudentCount() const
{
    return m_includedCount;
}

bool ODBCExpEngineBase::IncludedStudentRowTest()
{
    if (!m_fldStudentNumber)
        return false;
    return IsIncludedStudent(GetText(m_fldStudentNumber));
}

ODBCField* ODBCExpEngineBase::ConditionField(ODBCTable* table, const char* name)
{
    m_conditionFields.push_back(std::make_unique<ODBCField>(table, XString(name), 0));
    return m_conditionFields.back().get();
}

void ODBCExpEngineBase::ReleaseConditionFields()
{
    m_conditionFields.clear();
}

void ODBCExpEngineBase::AddActiveStatusGroup(ODBCField* statusField)
{
    if (!m_inactiveCutoff.IsNull())
        return;
    ODBCConditionGroup& active = AddConditionGroup(ODBCConditionGroup::Join::AnyOf);
    active.Add(statusField, "=", "'A'").Add(statusField, "=", "'N'");
    for (const QString& code : m_activeCodes)
        active.Add(statusField, "=", QuoteText(XString(code.toLatin1().constData())));
    active.Add(statusField, "=", "'U'");
}

void ODBCExpEngineBase::AddStudentFilter(ODBCTable* table)
{
    AddCondition(ConditionField(table, "_DistBldg"), "=", QuoteText(m_schoolNumber));
    AddActiveStatusGroup(ConditionField(table, "Status"));
    AddCondition(ConditionField(table, "_Year"), "=", QuoteText(m_schoolYear));
}

void ODBCExpEngineBase::AddSchoolYearConditions(ODBCTable* table)
{
    AddCondition(ConditionField(table, "_DistBldg"), "=", QuoteText(m_schoolNumber));
    AddCondition(ConditionField(table, "_Year"), "=", QuoteText(m_schoolYear));
}

void ODBCExpEngineBase::AddOwnStatusBlock(ODBCTable* table)
{
    AddSchoolYearConditions(table);
    AddActiveStatusGroup(ConditionField(table, "Status"));
}

void ODBCExpEngineBase::AddJoinedStatusConditions(ODBCTable* table)
{
    AddSchoolYearConditions(table);
    AddJoinedStatusBlock(table);
}

void ODBCExpEngineBase::AddJoinedStatusBlock(ODBCTable* table)
{
    if (!m_inactiveCutoff.IsNull())
        return;
    ODBCTable* students = AddTable("StudentDemographic", "S", true);
    AddCondition(ConditionField(students, "_Year"), "=", QuoteText(m_schoolYear));
    // Without the building a student enrolled in two buildings would join
    // twice and be exported twice.
    AddCondition(ConditionField(students, "_DistBldg"), "=", QuoteText(m_schoolNumber));
    AddCondition(ConditionField(table, "StudentNumber"), "=",
                 ConditionField(students, "StudentNumber"));
    AddActiveStatusGroup(ConditionField(students, "Status"));
}

void ODBCExpEngineBase::ClearIncludedStudents()
{
    m_includedText.clear();
    m_includedSlots.clear();
    m_includedCount = 0;
}

void ODBCExpEngineBase::SaveTableRunState()
{
    ODBCDataAccess::SaveTableRunState();
    m_savedStaffCodeMap = m_staffCodeMap;
    m_savedIncludedLength = m_includedText.size();
}

void ODBCExpEngineBase::RestoreTableRunState()
{
    ODBCDataAccess::RestoreTableRunState();
    m_staffCodeMap = m_savedStaffCodeMap;
    m_includedText.resize(m_savedIncludedLength);
}

void ODBCExpEngineBase::BuildIncludedStudents()
{
    StartTable("Included Students", "", 0);
    ClearQuery();
    ODBCTable* students = AddTable("StudentDemographic", "STU", true);
    ODBCField* number = AddQueryField(students, "StudentNumber", true);
    AddStudentFilter(students);

    ReadTable(
        [&]() {
            for (bool more = GetFirstRecord(); more; more = GetNextRecord()) {
                const XString text = GetText(number);
                m_includedText.append(text.c_str(), text.GetLength() + 1);
            }
        },
        [] {});  // the numbers read so far go with the run state
    m_includedText.shrink_to_fit();
    // A third of the slots left free keeps the probe runs short. The row
    // test compares trimmed texts byte-wise, and so does the table; a
    // student with several rows of the school and year is listed once.
    const size_t numbers = static_cast<size_t>(std::count(m_includedText.begin(), m_includedText.end(), '\0'));
    m_includedSlots.assign(numbers + numbers / 2 + 1, 0);
    m_includedCount = 0;
    for (size_t start = 0; start < m_includedText.size();) {
        const std::string_view number(m_includedText.data() + start);
        uint32_t& slot = m_includedSlots[IncludedSlot(number)];
        if (slot == 0) {
            slot = static_cast<uint32_t>(start) + 1;
            ++m_includedCount;
        }
        start += number.size() + 1;
    }
    EndTable();
}
