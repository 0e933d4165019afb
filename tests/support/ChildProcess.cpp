// ChildProcess: a thin wrapper over QProcess for running the built program.
#include "tests/support/ChildProcess.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <link.h>
#include <unistd.h>

#include <cstring>

std::string PreloadEntry(const std::vector<std::string>& libraries)
{
    std::vector<std::string> list;
    // The test process was linked with the same runtime as the bridge, so
    // its own loaded copy is the one the child needs first.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            const char* name = info->dlpi_name ? std::strrchr(info->dlpi_name, '/') : nullptr;
            if (name && std::strncmp(name, "/libasan.so", 11) == 0)
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &list);
    list.insert(list.end(), libraries.begin(), libraries.end());
    std::string entry = "LD_PRELOAD=";
    for (size_t i = 0; i < list.size(); ++i)
        entry += (i ? ":" : "") + list[i];
    return entry;
}

bool StartChildProcess(QProcess& process, const std::string& program, const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment, const std::string& workingFolder)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const std::string& pair : environment) {
        const size_t eq = pair.find('=');
        if (eq == std::string::npos)
            continue;
        env.insert(QString::fromStdString(pair.substr(0, eq)), QString::fromStdString(pair.substr(eq + 1)));
    }
    process.setProcessEnvironment(env);
    if (!workingFolder.empty())
        process.setWorkingDirectory(QString::fromStdString(workingFolder));
    process.setStandardInputFile(QProcess::nullDevice());
    QStringList args;
    for (const std::string& a : arguments)
        args << QString::fromStdString(a);
    process.start(QString::fromStdString(program), args);
    return process.waitForStarted(30000);
}

ChildResult RunChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment, const std::string& workingFolder,
                            int timeoutMs)
{
    ChildResult result;
    QProcess process;
    if (!StartChildProcess(process, program, arguments, environment, workingFolder))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    }
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    result.standardOutput.assign(out.constData(), static_cast<size_t>(out.size()));
    result.standardError.assign(err.constData(), static_cast<size_t>(err.size()));
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

namespace {

const char* const kSetpriv = "/usr/bin/setpriv";

// The superuser reads and writes any file whatever its mode; without these
// two capabilities the mode binds it like anyone else.
std::vector<std::string> WithoutPermissionOverride(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> wrapped = {"--bounding-set=-dac_override,-dac_read_search", "--", program};
    wrapped.insert(wrapped.end(), arguments.begin(), arguments.end());
    return wrapped;
}

} // namespace

bool CanRunWithFilePermissions()
{
    if (geteuid() != 0)
        return true;
    static const bool works = RunChildProcess(kSetpriv, WithoutPermissionOverride("/bin/true", {})).exitCode == 0;
    return works;
}

ChildResult RunChildProcessWithFilePermissions(const std::string& program, const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment,
                                               const std::string& workingFolder, int timeoutMs)
{
    if (geteuid() != 0)
        return RunChildProcess(program, arguments, environment, workingFolder, timeoutMs);
    return RunChildProcess(kSetpriv, WithoutPermissionOverride(program, arguments), environment, workingFolder,
                           timeoutMs);
}
