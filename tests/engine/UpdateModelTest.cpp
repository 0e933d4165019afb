// The attendance update export as a school lives with it, night after night:
// seeded random changes to daily and period absences (new, deleted, a new
// code, only the excused flag, only the reason, several periods a day, dates
// inside and outside the overlap, changes taken back the next cycle), runs of
// the built bridge killed at random moments and right after each rename,
// flush and cache statement of their commit, and an importer that knows only
// the update files that reached their final names, applied in name order.
//
// After every run that succeeded, every key the update export follows holds
// the source's values (daily absences of any date; period absences and daily
// deletions from the stored update date less the overlap up to today). At
// every point, no row reached the importer twice (sent with the values the
// importer already held for it), and no file under a final name is cut short.
//
// ctest runs a few hundred cycles; a longer soak runs by hand:
//   MORV_MODEL_CYCLES=5000 MORV_MODEL_SEED=7 build/tests/engine/engine_update_model_test
#include "EngineTestSchool.h"
#include "tests/support/ChildProcess.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>

#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <tuple>

namespace {

const char* const kBridge = MORV_BINARY_DIR "/app/morvbridge";
const char* const kShim = MORV_BINARY_DIR "/tests/support/libmorv_call_shim.so";
const int kOverlap = 14;  // the default overlap of a record without one

// Students 1001 to 1004 take part; 1009 is withdrawn and never exported.
const char* const kSchool = R"SQL(
INSERT INTO Schools (_DistBldg, _Year, SchoolName, IsLive) VALUES ('0301', 2026, 'Central High', 'Y');
INSERT INTO StudentDemographic (StudentNumber, _DistBldg, _Year, Status, FirstName, LastName) VALUES
  ('1001', '0301', 2026, 'A', 'Ann', 'Able'), ('1002', '0301', 2026, 'A', 'Ben', 'Baker'),
  ('1003', '0301', 2026, 'A', 'Cat', 'Cole'), ('1004', '0301', 2026, 'A', 'Dan', 'Dunn'),
  ('1009', '0301', 2026, 'W', 'Cy', 'Gone');
)SQL";
const char* const kStudents[] = {"1001", "1002", "1003", "1004", "1009"};
const char* const kCodes[] = {"A", "T", "U", "S", "E"};
// Reasons; NULL is stored as SQL NULL and reaches the importer as "".
const char* const kReasons[] = {"Illness", "Dr's note", "Bus", "", nullptr};

// What the importer holds for one key: code, excused flag and reason.
struct Values
{
    std::string code, excused, reason;
    bool operator==(const Values& o) const { return std::tie(code, excused, reason) == std::tie(o.code, o.excused, o.reason); }
    bool operator!=(const Values& o) const { return !(*this == o); }
    std::string Text() const { return "code '" + code + "' excused '" + excused + "' reason '" + reason + "'"; }
};

// A daily ('D', reference "DAY") or period ('P', reference the period) key.
struct Key
{
    char table;
    std::string student, date, reference;
    bool operator<(const Key& o) const
    {
        return std::tie(table, student, date, reference) < std::tie(o.table, o.student, o.date, o.reference);
    }
    std::string Text() const { return std::string(1, table) + " " + student + " " + date + " " + reference; }
};

struct SourceRow
{
    Values values;
    bool reasonIsNull = false;
    bool dateWithTime = true;  // stored as "YYYY-MM-DD 00:00:00.000" or as "YYYY-MM-DD"
    std::string modified;      // daily: DateModified
};

// A date as the update file writes it.
std::string IsoDate(const QDate& date)
{
    return date.toString("yyyy-MM-dd").toStdString();
}

// The importer: every update file under its final name, in name order.
struct Importer
{
    std::map<Key, Values> held;
    std::vector<std::string> faults;  // duplicates and files cut short
};

Importer ReadImporter(const QString& folder)
{
    Importer importer;
    // QDir sorts by name, the order in which an importer takes them.
    const QStringList files = QDir(folder).entryList({"Update *.PDU"}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const std::vector<std::string> lines = ReadLines(QDir(folder).filePath(name));
        // A whole file ends with its timing block and an empty line.
        if (lines.size() < 2 || lines.back() != "" || lines[lines.size() - 2].rfind("//  Difference: ", 0) != 0) {
            importer.faults.push_back(name.toStdString() + " is cut short");
            continue;
        }
        char table = 0;
        for (const std::string& line : lines) {
            if (line == "// Cached Daily Attendance") {
                table = 'D';
            } else if (line == "// Cached Period Attendance") {
                table = 'P';
            } else if (line == "*") {
                table = 0;
            } else if (table && line.rfind("AttStdRef", 0) != 0) {
                // The engine's date format is the ISO one.
                const Key key{table, Field(line, 0), Field(line, 1), Field(line, 2)};
                const Values values{Field(line, 3), Field(line, 5), Field(line, 4)};
                auto found = importer.held.find(key);
                const bool same = found != importer.held.end() ? found->second == values : values.code.empty();
                if (same)
                    importer.faults.push_back(name.toStdString() + " sends " + key.Text() +
                                              " again with what the importer holds: " + values.Text());
                importer.held[key] = values;
            }
        }
    }
    return importer;
}

// How a run is ended.
enum class Stop { None, KillAtRandom, TermAtRandom, KillAfterCall };

class UpdateModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_work.isValid());
        // MORV_MODEL_KEEP=1 keeps the export folder of a failed soak to look at.
        if (std::getenv("MORV_MODEL_KEEP"))
            m_work.setAutoRemove(false);
        m_export = m_work.filePath("export");
        m_trace = m_work.filePath("trace.txt");
        m_school.Exec(kSchool);
        const char* seed = std::getenv("MORV_MODEL_SEED");
        m_seed = seed ? std::strtoul(seed, nullptr, 10) : 20261211u;
        m_random.seed(m_seed);
    }

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool Chance(int percent) { return Below(100) < percent; }

    // ---- the source ----

    std::string Now() const
    {
        return QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString() + ".000";
    }

    Values RandomValues(char table)
    {
        Values values{kCodes[Below(5)], Chance(30) ? "Y" : "N", ""};
        if (table == 'D') {
            const char* reason = kReasons[Below(5)];
            values.reason = reason ? reason : "";
        }
        return values;
    }

    template <class Map>
    typename Map::iterator Pick(Map& rows, char table)
    {
        std::vector<typename Map::iterator> found;
        for (auto it = rows.begin(); it != rows.end(); ++it)
            if (it->first.table == table)
                found.push_back(it);
        return found.empty() ? rows.end() : found[Below(static_cast<int>(found.size()))];
    }

    // One random change; returns what it did, for the cycle's history.
    std::string Change()
    {
        const char table = Chance(50) ? 'D' : 'P';
        const int kind = Below(5);
        if (kind == 0 || Pick(m_source, table) == m_source.end()) {
            // A new absence, up to 40 days back: inside and outside the overlap.
            const QDate date = QDate::currentDate().addDays(-Below(41));
            Key key{table, kStudents[Below(5)], IsoDate(date), table == 'D' ? "DAY" : std::to_string(1 + Below(7))};
            SourceRow row;
            row.values = RandomValues(table);
            row.reasonIsNull = table == 'D' && Chance(15) && row.values.reason.empty();
            row.dateWithTime = Chance(70);
            row.modified = Now();
            const bool existed = m_source.count(key) > 0;
            m_source[key] = row;
            return (existed ? "replaced " : "new ") + key.Text() + ": " + row.values.Text();
        }
        auto it = Pick(m_source, table);
        const std::string key = it->first.Text();
        SourceRow& row = it->second;
        row.modified = Now();
        switch (kind) {
        case 1:
            m_source.erase(it);
            return "deleted " + key;
        case 2: {
            std::string code = row.values.code;
            while (code == row.values.code)
                code = kCodes[Below(5)];
            row.values.code = code;
            return "code of " + key + " to " + code;
        }
        case 3:
            row.values.excused = row.values.excused == "Y" ? "N" : "Y";
            return "excused of " + key + " to " + row.values.excused;
        default:
            if (table == 'P') {
                row.values.excused = row.values.excused == "Y" ? "N" : "Y";
                return "excused of " + key + " to " + row.values.excused;
            }
            std::string reason = row.values.reason;
            while (reason == row.values.reason) {
                const char* r = kReasons[Below(5)];
                reason = r ? r : "";
                row.reasonIsNull = !r;
            }
            row.values.reason = reason;
            return "reason of " + key + " to '" + reason + "'";
        }
    }

    void WriteSource()
    {
        std::ostringstream sql;
        sql << "DELETE FROM StudentDailyAbsence; DELETE FROM StudentPeriodAbsence;";
        auto quoted = [](const std::string& text) {
            std::string out = "'";
            for (char c : text)
                out += c == '\'' ? std::string("''") : std::string(1, c);
            return out + "'";
        };
        for (const auto& [key, row] : m_source) {
            const std::string date = key.date + (row.dateWithTime ? " 00:00:00.000" : "");
            if (key.table == 'D') {
                sql << "INSERT INTO StudentDailyAbsence VALUES (" << quoted(key.student) << ", '0301', 2026, "
                    << quoted(date) << ", " << quoted(row.values.code) << ", " << quoted(row.values.excused) << ", "
                    << (row.reasonIsNull ? std::string("NULL") : quoted(row.values.reason)) << ", "
                    << quoted(row.modified) << ");";
            } else {
                sql << "INSERT INTO StudentPeriodAbsence VALUES (" << quoted(key.student) << ", '0301', 2026, "
                    << quoted(date) << ", " << quoted(key.reference) << ", " << quoted(row.values.code) << ", "
                    << quoted(row.values.excused) << ");";
            }
        }
        m_school.Exec(sql.str());
    }

    // ---- the bridge ----

    std::vector<std::string> Environment(const std::string& kill) const
    {
        std::vector<std::string> environment = m_school.Source().Environment();
        environment.push_back("HOME=" + m_work.path().toStdString());
        environment.push_back(PreloadEntry({kShim}));
        environment.push_back("MORV_SHIM_TRACE=" + m_trace.toStdString());
        if (!kill.empty())
            environment.push_back("MORV_SHIM_KILL=" + kill);
        return environment;
    }

    // Runs one update export ended the way `stop` says; true when it ended
    // by itself with success.
    bool Run(Stop stop, std::string& how)
    {
        std::string kill;
        int delay = -1;
        if (stop == Stop::KillAfterCall) {
            // A kind of call and its number, from what the last whole run did;
            // "sql:N:commit" aims at the cache's commits. The steps of the
            // commit (renames, flushes, removals, the cache's commits) are
            // taken in turn, so that every one of them is hit; the cache's
            // other statements at random.
            const char* kinds[] = {"rename", "sync", "unlink", "sql", "sql:commit"};
            const std::string kind = kinds[Below(5)];
            const std::string base = kind.substr(0, kind.find(':'));
            const std::string prefix = kind.find(':') == std::string::npos ? "" : kind.substr(kind.find(':') + 1);
            const int count = m_lastCounts.count(kind) ? m_lastCounts[kind] : 0;
            if (count == 0) {
                stop = Stop::None;
            } else {
                const int nth = kind == "sql" ? Below(count) : m_turn[kind]++ % count;
                kill = base + ":" + std::to_string(1 + nth) + (prefix.empty() ? "" : ":" + prefix);
                how = "killed after " + kill;
            }
        } else if (stop != Stop::None) {
            delay = Below(std::max(m_lastDurationMs, 20));
            how = std::string(stop == Stop::KillAtRandom ? "SIGKILL" : "SIGTERM") + " after " +
                  std::to_string(delay) + " ms";
        }
        if (stop == Stop::None)
            how = "whole run";

        QFile::remove(m_trace);
        QProcess bridge;
        const std::vector<std::string> arguments = {
            "run", "--att", "--dsn=" + std::string(kSchoolDsn), "--user=clerk", "--pwd=secret", "--school=0301",
            "--path=" + m_export.toStdString(), "--log=consoleoff"};
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(StartChildProcess(bridge, kBridge, arguments, Environment(kill), m_work.path().toStdString()));
        if (delay >= 0 && !bridge.waitForFinished(delay)) {
            if (stop == Stop::KillAtRandom)
                bridge.kill();
            else
                bridge.terminate();
        }
        // A bridge that ended on its own before the stop is not running any more.
        if (bridge.state() != QProcess::NotRunning) {
            EXPECT_TRUE(bridge.waitForFinished(120000)) << "the bridge did not end";
        }
        const bool succeeded = bridge.exitStatus() == QProcess::NormalExit && bridge.exitCode() == 0;
        if (stop == Stop::None) {
            EXPECT_TRUE(succeeded) << "an undisturbed run failed: " << bridge.readAllStandardError().toStdString()
                                   << ReadWholeFile(m_export + "/Data ExtractorStatus.tmp").toStdString();
            m_lastDurationMs = static_cast<int>(timer.elapsed());
            CountCalls();
        }
        how += succeeded ? " (succeeded)" : bridge.exitStatus() == QProcess::NormalExit ? " (failed)" : " (killed)";
        return succeeded;
    }

    void CountCalls()
    {
        m_lastCounts.clear();
        const QByteArray bytes = ReadWholeFile(m_trace);
        for (const QByteArray& line : bytes.split('\n')) {
            const QByteArray kind = line.left(line.indexOf('\t'));
            if (kind.isEmpty())
                continue;
            ++m_lastCounts[kind.toStdString()];
            if (kind == "sql" && line.mid(4).toLower().startsWith("commit"))
                ++m_lastCounts["sql:commit"];
        }
    }

    // The update date the record holds, null when none.
    QDate StoredUpdateDate() const
    {
        const QByteArray record = ReadWholeFile(m_export + "/SchoolConfig.xml");
        const int at = record.indexOf("UpdateDateValue=\"");
        if (at < 0)
            return QDate();
        const QByteArray value = record.mid(at + 17, 11);
        return QLocale::c().toDate(QString::fromLatin1(value), "dd-MMM-yyyy");
    }

    // ---- the checks ----

    // After a run that succeeded: the keys the update export follows hold
    // the source's values.
    std::vector<std::string> Mismatches(const Importer& importer) const
    {
        std::vector<std::string> found;
        const QDate stored = StoredUpdateDate();
        const std::string windowStart = stored.isValid() ? IsoDate(stored.addDays(-kOverlap)) : std::string();
        const std::string today = IsoDate(QDate::currentDate());
        auto followed = [&](const Key& key) {
            return key.student != "1009" && key.date >= windowStart && key.date <= today;
        };
        for (const auto& [key, row] : m_source) {
            if (key.student == "1009" || (key.table == 'P' && !followed(key)))
                continue;
            auto held = importer.held.find(key);
            if (held == importer.held.end())
                found.push_back(key.Text() + " never reached the importer; the source has " + row.values.Text());
            else if (held->second != row.values)
                found.push_back(key.Text() + ": the importer holds " + held->second.Text() + ", the source " +
                                row.values.Text());
        }
        for (const auto& [key, values] : importer.held) {
            if (key.student == "1009")
                found.push_back(key.Text() + " of a withdrawn student reached the importer");
            if (!m_source.count(key) && followed(key) && !values.code.empty())
                found.push_back(key.Text() + " was deleted in the source; the importer holds " + values.Text());
        }
        return found;
    }

    static std::string Join(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines)
            text += "\n  " + line;
        return text;
    }

    QTemporaryDir m_work;
    QString m_export;
    QString m_trace;
    EngineTestSchool m_school;
    unsigned long m_seed = 0;
    std::mt19937 m_random;
    std::map<Key, SourceRow> m_source;
    std::map<std::string, int> m_lastCounts;
    std::map<std::string, int> m_turn;  // the next call of each kind to stop after
    int m_lastDurationMs = 300;
};

TEST_F(UpdateModelTest, EveryChangeReachesTheImporterExactlyOnce)
{
    const char* cyclesText = std::getenv("MORV_MODEL_CYCLES");
    const int cycles = cyclesText ? std::atoi(cyclesText) : 300;
    std::vector<std::string> history;
    auto record = [&](const std::string& line) {
        history.push_back(line);
        if (history.size() > 40)
            history.erase(history.begin());
    };

    // A school with a few weeks of absences already.
    for (int i = 0; i < 30; ++i)
        Change();
    std::map<Key, SourceRow> previous = m_source;
    std::vector<Key> changedLastCycle;

    for (int cycle = 1; cycle <= cycles; ++cycle) {
        // The source changes between runs, and now and then a change of the
        // cycle before is taken back.
        if (cycle > 1) {
            std::map<Key, SourceRow> before = m_source;
            if (!changedLastCycle.empty() && Chance(25)) {
                for (const Key& key : changedLastCycle) {
                    if (previous.count(key)) {
                        m_source[key] = previous[key];
                        m_source[key].modified = Now();
                    } else {
                        m_source.erase(key);
                    }
                }
                record("cycle " + std::to_string(cycle) + ": took back the changes of the cycle before");
            }
            const int changes = Below(5);
            for (int i = 0; i < changes; ++i)
                record("cycle " + std::to_string(cycle) + ": " + Change());
            changedLastCycle.clear();
            for (const auto& [key, row] : m_source)
                if (!before.count(key) || before[key].values != row.values)
                    changedLastCycle.push_back(key);
            for (const auto& [key, row] : before)
                if (!m_source.count(key))
                    changedLastCycle.push_back(key);
            previous = before;
        }
        WriteSource();

        const int roll = Below(100);
        const Stop stop = cycle == 1 || roll < 40  ? Stop::None
                          : roll < 60              ? Stop::KillAtRandom
                          : roll < 70              ? Stop::TermAtRandom
                                                   : Stop::KillAfterCall;
        std::string how;
        const bool succeeded = Run(stop, how);
        record("cycle " + std::to_string(cycle) + ": " + how);

        const Importer importer = ReadImporter(m_export);
        ASSERT_TRUE(importer.faults.empty())
            << "seed " << m_seed << ", cycle " << cycle << " in " << m_export.toStdString() << ":" << Join(importer.faults) << "\nhistory:" << Join(history);
        if (succeeded) {
            // A run that succeeded leaves no temporary file behind.
            const QStringList parts = QDir(m_export).entryList({"*.part"}, QDir::Files);
            ASSERT_TRUE(parts.isEmpty()) << "seed " << m_seed << ", cycle " << cycle << ": "
                                         << parts.join(", ").toStdString();
            const std::vector<std::string> mismatches = Mismatches(importer);
            ASSERT_TRUE(mismatches.empty())
                << "seed " << m_seed << ", cycle " << cycle << " in " << m_export.toStdString() << ":" << Join(mismatches) << "\nhistory:" << Join(history);
        }
    }
}

} // namespace
