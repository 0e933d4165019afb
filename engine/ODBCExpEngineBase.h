// The part of the extraction engine that every MORV table declaration shares:
// the run's school, year and status settings, the student filter with its
// condition blocks, and the included-students list with its row test.
#pragma once

#include "data/ODBCDataAccess.h"
#include "util/XDate.h"
#include "util/XString.h"

#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ODBCExpEngineBase : public ODBCDataAccess
{
    Q_OBJECT

public:
    explicit ODBCExpEngineBase(QObject* parent = nullptr);
    ~ODBCExpEngineBase() override;

    // The additional active codes, trimmed, without empty items.
    static QStringList SplitActiveCodes(const XString& codes);

    // True when `status` (trimmed) counts as an active student status.
    bool IsActiveStatus(const XString& status) const;

    // Row test of the student tables: the row's student number (trimmed)
    // must be in the included-students list.
    bool IncludedStudentRowTest();

    // Whether a student number is in the included-students list.
    bool IsIncludedStudent(const XString& studentNumber) const;
    int IncludedStudentCount() const;

    // The run's school number and live school year (kept by the writer for
    // the bookkeeping record).
    const XString& SchoolNumber() const { return m_schoolNumber; }
    const XString& SchoolYear() const { return m_schoolYear; }

protected:
    // The student filter on `table`: building, active-status group (only
    // without an inactive cut-off) and year.
    void AddStudentFilter(ODBCTable* table);

    // "_DistBldg = school AND _Year = year" on the table's own columns.
    void AddSchoolYearConditions(ODBCTable* table);

    // The active-status group on `statusField`, joined with AND; nothing when
    // an inactive cut-off is set.
    void AddActiveStatusGroup(ODBCField* statusField);

    // The own-status-column block: building and year of the table, then the
    // status group on its own Status column.
    void AddOwnStatusBlock(ODBCTable* table);

    // The joined-status block: without a cut-off, joins StudentDemographic S on
    // StudentNumber for the same school and year and requires an active S.Status.
    void AddJoinedStatusBlock(ODBCTable* table);

    // The usual conditions of a table without its own Status column: its
    // building and year, then the joined-status block.
    void AddJoinedStatusConditions(ODBCTable* table);

    // A condition-only field owned by the engine until the next table ends.
    ODBCField* ConditionField(ODBCTable* table, const char* name);
    void ReleaseConditionFields();

    // Adds the staff-code map and the included-students list to the run
    // state a table's reading may have to put back.
    void SaveTableRunState() override;
    void RestoreTableRunState() override;

    // Builds the included-students list from StudentDemographic.
    void BuildIncludedStudents();
    void ClearIncludedStudents();

    // Per-table: the field whose text the row test looks up.
    ODBCField* m_fldStudentNumber = nullptr;

    XDate m_inactiveCutoff;          // null unless "inactivedate" was readable
    XString m_activeCodesText;       // the parameter as given, for the log
    QStringList m_activeCodes;       // trimmed, non-empty items
    bool m_staffFiltered = false;
    bool m_pluralSchoolTable = false;
    // Why the last live-year lookup failed (empty when it ran cleanly), so a
    // run without a year can name the cause, such as an unknown data source.
    XString m_schoolYearError;
    // The lookup failed because the database could not be read at all, not
    // because a table or year is missing.
    bool m_schoolYearUnreadable = false;

    // Staff code -> staff key, filled by the Staff table and read by Student
    // Demographics.
    std::map<XString, XString> m_staffCodeMap;

private:
    // The slot of the included-students table holding `number`, or the free
    // slot where it would go.
    size_t IncludedSlot(std::string_view number) const;

    // The included students' numbers, each ended by a zero byte, and an
    // open-addressing hash table over them (start + 1 in m_includedText, 0
    // for a free slot): a few bytes a student instead of a string object
    // each, and a lookup without copies.
    std::string m_includedText;
    std::vector<uint32_t> m_includedSlots;
    int m_includedCount = 0;
    // The run state as a table's reading started (see SaveTableRunState);
    // the list's text only grows while a table is read.
    std::map<XString, XString> m_savedStaffCodeMap;
    size_t m_savedIncludedLength = 0;
    std::vector<std::unique_ptr<ODBCField>> m_conditionFields;
};
