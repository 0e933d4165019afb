// Process entry of the bridge: one command per process, answered by the
// application object; anything that escapes it still ends as a clear failure.
#include "app/BridgeBase.h"
#include "app/StartupFailure.h"
#include "libraries/sqlitewrapper/cpp/database.h"

#include <QCoreApplication>
#include <QStringList>

#include <exception>

#include <malloc.h>
#include <sys/stat.h>

int main(int argc, char *argv[])
{
    // Student records: whatever the umask, nothing the bridge creates (export
    // folder, export and status files, logs, the attendance cache, through
    // SQLite and the toolkit too) is readable by others or writable by the
    // group. A stricter umask narrows this further; existing files keep
    // their modes.
    const mode_t inherited = umask(0);
    umask(inherited | 027);
    // The bridge runs on one thread; SQLite (the cache's and the SQLite ODBC
    // driver's) need not lock around every call.
    sqlite::ConfigureSingleThreadedUse();
    // Large buffers (SQLite's sorter, a buffered result's blocks) go back
    // to the system when freed rather than raising glibc's threshold and
    // staying in the heap, so the peak stays near what is in use.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    QCoreApplication application(argc, argv);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    const QString statusFile = QString::fromLatin1(BridgeBase::Type) + QStringLiteral("Status.tmp");
    const QString finishedFile = QString::fromLatin1(BridgeBase::FinishedFile);

    try {
        BridgeBase bridge;
        return bridge.processCommandLine(argc, argv);
    } catch (const std::exception &e) {
        return StartupFailure::report(arguments, QString::fromLocal8Bit(e.what()), statusFile, finishedFile);
    } catch (...) {
        return StartupFailure::report(arguments, QString(), statusFile, finishedFile);
    }
}
