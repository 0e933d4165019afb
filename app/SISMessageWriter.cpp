// Message writer: formats the protocol lines and keeps the queue of "missing"
// reports that only go out in front of a warning or an error.
#include "app/SISMessageWriter.h"

#include "log/ProtocolField.h"

#include <cstdio>

SISMessageWriter::SISMessageWriter(QIODevice *output, QIODevice *error, QObject *parent)
    : QObject(parent), m_output(output), m_error(error)
{
    if (!m_output) {
        // On the descriptor, not the C stream: the C library would hold a pipe's
        // lines in its block buffer until exit, and a killed run would lose them.
        m_stdout.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
        m_output = &m_stdout;
    }
    if (!m_error) {
        m_stderr.open(fileno(stderr), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
        m_error = &m_stderr;
    }
}

QByteArray SISMessageWriter::formatLine(const QStringList &fields)
{
    QStringList clean;
    clean.reserve(fields.size());
    for (const QString &field : fields)
        clean.append(protocolField(field));
    return (clean.join(u'\t') + u'\n').toUtf8();
}

void SISMessageWriter::writeOutput(const QStringList &fields)
{
    m_output->write(formatLine(fields));
}

void SISMessageWriter::writeError(const QStringList &fields)
{
    m_error->write(formatLine(fields));
}

void SISMessageWriter::flushPending()
{
    for (const QString &line : std::as_const(m_pending))
        m_error->write((line + u'\n').toUtf8());
    m_pending.clear();
}

void SISMessageWriter::outVersion(const QString &alias, const QString &version, const QString &minversion,
                                  const QString &vname, const QString &guide)
{
    writeOutput({QStringLiteral("version"), alias, version, minversion, vname, guide});
}

void SISMessageWriter::outParams(const QString &paramkey, const QString &type, const QString &paramname,
                                 const QString &help, const QString &defaultValue)
{
    writeOutput({QStringLiteral("params"), paramkey, type, paramname, help, defaultValue});
}

void SISMessageWriter::outHiddenParam(const QString &paramkey, const QString &paramvalue,
                                      const QString &defaultValue)
{
    writeOutput({QStringLiteral("hidden_param"), paramkey, paramvalue, defaultValue});
}

void SISMessageWriter::outList(const QString &type, const QString &paramvalue, const QString &displaykey,
                               const QString &displayname, const QString &defaultValue)
{
    static const QStringList listTypes = {QStringLiteral("list"), QStringLiteral("bridgelist"),
                                          QStringLiteral("school_list"), QStringLiteral("district_list"),
                                          QStringLiteral("year_list")};
    if (!listTypes.contains(type)) {
        outError(QStringLiteral("list"), QStringLiteral("List type not set up."));
        return;
    }
    writeOutput({type, paramvalue, displaykey, displayname, defaultValue});
}

void SISMessageWriter::outTree(const QString &paramvalue, const QString &displaykey, const QString &parentkey,
                               const QString &displayname, const QString &defaultValue)
{
    writeOutput({QStringLiteral("tree"), paramvalue, displaykey, parentkey, displayname, defaultValue});
}

void SISMessageWriter::outHidden(const QString &a, const QString &b, const QString &c, const QString &d,
                                 const QString &e)
{
    writeOutput({QStringLiteral("hidden"), a, b, c, d, e});
}

void SISMessageWriter::outFile(const QString &paramkey, const QString &extension, const QString &defaultValue)
{
    writeOutput({QStringLiteral("file"), paramkey, extension, defaultValue});
}

void SISMessageWriter::outNumber(const QString &a, const QString &b, const QString &c)
{
    writeOutput({QStringLiteral("number"), a, b, c});
}

void SISMessageWriter::outDate(const QString &paramkey, const QString &startdate, const QString &enddate,
                               const QString &defaultValue)
{
    writeOutput({QStringLiteral("date"), paramkey, startdate, enddate, defaultValue});
}

void SISMessageWriter::outTest(const QString &success, const QString &group, const QString &message)
{
    writeOutput({QStringLiteral("test"), group, success, message});
}

void SISMessageWriter::outStatus(const QString &success, const QString &date, const QString &message)
{
    writeOutput({QStringLiteral("status"), success, date, message});
}

void SISMessageWriter::outManage(const QString &success, const QString &message)
{
    writeOutput({QStringLiteral("manage"), success, message});
}

void SISMessageWriter::outProgress(const QString &progress_type, int progress_total)
{
    if (progress_total == -1)
        writeOutput({progress_type});
    else
        writeOutput({progress_type, QString::number(progress_total)});
}

void SISMessageWriter::outProgress_increment(const QString &progress_message)
{
    if (progress_message.isEmpty())
        writeOutput({QStringLiteral("inc_progress")});
    else
        writeOutput({QStringLiteral("inc_progress"), progress_message});
}

void SISMessageWriter::outProgress_warning(const QString &progress_message)
{
    // The importer treats an empty warning as a plain step.
    if (progress_message.isEmpty())
        writeOutput({QStringLiteral("inc_progress")});
    else
        writeOutput({QStringLiteral("warn_progress"), progress_message});
}

void SISMessageWriter::outSetting(const QString &setting_type, int setting_total)
{
    outProgress(setting_type, setting_total);
}

void SISMessageWriter::outSetting_increment(const QString &setting_type, const QString &group,
                                            const QString &key, const QString &value)
{
    writeOutput({setting_type, group, key, value});
}

void SISMessageWriter::outSetting_increment(const QString &setting_type, const QString &group,
                                            const QString &key, const QString &value, const QString &grouping)
{
    writeOutput({setting_type, group, key, value, grouping});
}

void SISMessageWriter::outWarning(const QString &key, const QString &message)
{
    flushPending();
    writeOutput({QStringLiteral("warning"), key, message});
}

void SISMessageWriter::outMissing(const QString &paramkey, const QString &message)
{
    const QString line = QString::fromUtf8(formatLine({QStringLiteral("missing"), paramkey, message})).chopped(1);
    if (!m_pending.contains(line))
        m_pending.append(line);
}

void SISMessageWriter::outError(const QString &key, const QString &message)
{
    flushPending();
    writeError({QStringLiteral("error"), key, message});
}

void SISMessageWriter::clearMessages()
{
    m_pending.clear();
}
