// The MORV extraction engine: which source tables and columns make up each
// export table, how student rows are filtered, and the order of a run.
// Everything generic (query model, SQL, connection, files, progress) comes
// from the base classes; this class holds only the MORV knowledge.
#pragma once

#include "engine/ODBCExpEngineBase.h"
#include "export/EngineServices.h"

#include <QList>
#include <QPair>
#include <QString>

#include <initializer_list>
#include <map>

class ExpEngine : public ODBCExpEngineBase, public EngineServices
{
    Q_OBJECT

public:
    explicit ExpEngine(QObject* parent = nullptr);
    ~ExpEngine() override;

    // Whether `text` is a date as the run reads --inactivedate.
    static bool IsExportDate(const XString& text);

    // The run: connects, builds the included-students list, produces the
    // export tables (flag 1) and the attendance update file (flag 2).
    bool Execute(ParamMap parameters, RunFlags flags, QString& errorText) override;

    // The run's first steps: reads the settings, finds the live school year
    // (failing the run when there is none), connects, which starts the
    // writer's bookkeeping, and builds the included-students list.
    void PrepareRun(const ParamMap& parameters);

    // The run as the driver starts it (the task's outermost guard).
    bool BeginExecute(ParamMap parameters, RunFlags flags, QString& errorText) override;

    // Services of the set-up pages; each catches its own errors and answers
    // with a message.
    bool ValidateConnection(const ParamMap& parameters, QString& message) override;
    bool ValidateSchoolNumber(const ParamMap& parameters, QString& message) override;
    bool LoadSchoolList(const ParamMap& parameters, EntryList& entries, QString& message) override;
    bool LoadBridgeList(const QString& paramKey, const ParamMap& parameters, EntryList& entries,
                        QString& message) override;
    // MORV has no district or school-year pick lists: both fail with a message.
    bool LoadSchoolDistrictList(const ParamMap& parameters, EntryList& entries,
                                QString& message) override;
    bool LoadSchoolYearList(const ParamMap& parameters, EntryList& entries, QString& message) override;

    // The year text of the school's live year, empty when none is found.
    // Never throws.
    XString GetLiveSchoolYear(const XString& dsn, const XString& user, const XString& pwd,
                              bool plural);

    // Export tables in the order of a full run.
    void CreateAttendanceCodes();
    void CreateCalendar();
    void CreateSections();
    void CreateTerms();
    void CreateDays();
    void CreateTeachers();
    void CreateStaff();
    void CreateStudentDemographics();
    void CreateStudentLunchCodes();
    void CreateStudentContacts();
    void CreateStudentContactNumbers();
    void CreateStudentLockers();
    void CreateStudentTransportation();
    void CreateStudentSchedules();
    void CreateStudentGrades();
    void CreateFeeAccounts();
    void CreateStudentSchoolFees();
    void CreateStudentSchoolPayments();
    void CreateStudentSummaryAttendance();
    void CreateStudentConductIncident();
    void CreateStudentConductOutcomes();
    void CreateStudentCommunityService();
    void CreateStudentMedicalHistory();
    void CreateStudentNotes();

    // The attendance update export: absences into the cache, changed cached
    // rows into a new update file.
    void RunUpdateExport();
    void CreateStudentDailyAttendance(const XDate& from, const XDate& to);
    void CreateStudentPeriodAttendance(const XDate& from, const XDate& to);

protected:
    // A value function of this engine or of the data-access layer.
    using EngineValue = XString (ExpEngine::*)();

    // Declares a column and returns its query field (see PDEWriter::AddColumn).
    ODBCField* Column(const ColumnDeclaration& column);
    // The declaration of an exported column read from `source` of `table`.
    ColumnDeclaration Declare(ODBCTable* table, const char* source, EngineValue value, const char* header);
    // Declares an exported column read from `source` of `table`. Returns the
    // query field, or nullptr when the column is missing (it is then left
    // out of the table).
    ODBCField* Column(ODBCTable* table, const char* source, EngineValue value, const char* header);
    // The same for a column the table cannot do without: a missing one
    // fails the run.
    ODBCField* RequiredColumn(ODBCTable* table, const char* source, EngineValue value, const char* header);
    // An exported column that also fills a custom field of the importer.
    ODBCField* CustomColumn(ODBCTable* table, const char* source, EngineValue value, const char* header,
                            const CustomFieldDeclaration& custom);
    // A column read for conditions or other value functions, never written;
    // optional or required.
    ODBCField* QueryColumn(ODBCTable* table, const char* source);
    ODBCField* RequiredQueryColumn(ODBCTable* table, const char* source);
    // A column that writes the same text on every line.
    void TextColumn(const char* text, const char* header);
    // The query field of the column being written.
    ODBCField* CurrentQueryField() const;
    // Columns whose values the engine writes into the file itself; only
    // their headers come from the declaration.
    void OwnColumns(std::initializer_list<const char*> headers);
    // The file `name` in the export folder.
    XFileSpec ExportFile(const char* name) const;

    // Writes the declared table with the included-students row test (or
    // every row when `filterStudents` is false) and ends it.
    int WriteAndEndTable(bool filterStudents = true);
    // Ends the declared table unwritten, logging why: a site may lack an
    // optional source table or column, and the run goes on without it.
    void SkipTable(LogLevel::Level level, const XString& reason, const XString& method);

    // Value functions of the student tables.
    XString ZipValue();
    XString ContactKeyValue();
    XString ActiveFlagValue();
    XString EthnicityValue();
    XString SpecialEducationValue();
    XString CustodyValue();
    XString PhoneKindValue();
    XString StaffLookupValue();
    XString CalendarReferenceValue();
    XString PhoneWithExtensionValue();
    // "DAY": the time frame of a daily absence.
    XString DayFrameValue();

    // Value functions of the scheduling, staff and grade tables (defined with
    // those tables).
    XString SectionKeyValue();
    XString StaffNameValue();
    XString StaffKeyValue();

    // Table-end hook: forgets the per-table field handles.
    void OnTableEnd() override;

    // Per-table field handles read by the value functions; reset after each table.
    ODBCField* m_fldZip4 = nullptr;
    ODBCField* m_fldFirstName = nullptr;
    ODBCField* m_fldMiddleName = nullptr;
    ODBCField* m_fldLastName = nullptr;
    ODBCField* m_fldIsPrimary = nullptr;
    ODBCField* m_fldDefaultCalendar = nullptr;
    ODBCField* m_fldCourseCode = nullptr;
    ODBCField* m_fldStaffCode = nullptr;
    // Phone columns that carry an extension, keyed by their own query field.
    std::map<const ODBCField*, ODBCField*> m_extensionOf;

private:
    void AddContactNameColumns(ODBCTable* contacts);
    void AddContactConditions(ODBCTable* contacts);
    void AddFeeColumns(ODBCTable* fees, const char* keySuffix);
    void AddFeeConditions(ODBCTable* students, ODBCTable* fees, const char* amountColumn);

    void ReadRunSettings(const ParamMap& parameters);
    void ReadInactiveCutoff(const XString& text);
    void ConnectForRun();
    void LogRunSettings();
    void RunFullExport();
    void ResetFieldHandles();

    // Reports the first empty key of `keys` through writeMissing, and names
    // it in `message`.
    bool CheckRequired(const ParamMap& parameters, const QStringList& keys, QString& message);
    // Why a run would refuse the school after the live-year lookup (the
    // database could not be read, or the school has no live year); empty
    // when it has one. The run and the school test answer with this text.
    XString LiveYearRefusal() const;
    // The data source, user and password given by the caller.
    void SetLogin(const ParamMap& parameters);
    void ConnectWith(const ParamMap& parameters);
    void ConnectWith(const XString& dsn, const XString& user, const XString& pwd);
    // Takes the school of `parameters` and looks up its live year with the
    // caller's login (empty when none is found).
    XString ReadSchoolAndLiveYear(const ParamMap& parameters);
    // Ends a look-up query of the set-up services: no DISTINCT for the next
    // query, and its condition fields released.
    void EndLookupQuery();
};
