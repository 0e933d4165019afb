/* CallShim: an LD_PRELOAD library for tests that watches the calls by which a
 * run makes its results durable and visible, and can stop the process dead
 * right after a chosen one, the way a power cut or `kill -9` would.
 *
 * Watched calls (the kind names used below):
 *   rename  rename(2), renameat(2)
 *   unlink  unlink(2), unlinkat(2) without AT_REMOVEDIR
 *   sync    fsync(2), fdatasync(2)
 *   sql     a statement finished on a SQLite database whose file name ends
 *           in "Attendance.db" (sqlite3_step returning SQLITE_DONE, or
 *           sqlite3_exec), so the source database read through the ODBC
 *           driver is never counted
 *
 * Environment (read by the shim only):
 *   MORV_SHIM_TRACE=FILE  appends one line per watched call: the kind, a TAB
 *                         and its subject (paths; "from TAB to" for rename;
 *                         the statement's text for sql)
 *   MORV_SHIM_NOSYNC=1    makes fsync and fdatasync return at once without
 *                         flushing anything (a benchmark's measure of what
 *                         the flushes cost)
 *   MORV_SHIM_KILL=KIND:N[:PREFIX]
 *                         sends SIGKILL to the process right after the Nth
 *                         watched call of KIND (from 1) has returned; with
 *                         PREFIX only calls whose subject starts with it
 *                         (ignoring case) count
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

typedef struct sqlite3 sqlite3;
typedef struct sqlite3_stmt sqlite3_stmt;

enum { SQLITE_DONE_CODE = 101 };

static int g_ready;
static char g_trace[4096];
static char g_killKind[16];
static char g_killPrefix[256];
static long g_killAt;
static long g_killCount;
static int g_inExec;
static int g_noSync;

static void Setup(void)
{
    if (g_ready)
        return;
    g_ready = 1;
    const char* trace = getenv("MORV_SHIM_TRACE");
    if (trace)
        snprintf(g_trace, sizeof g_trace, "%s", trace);
    const char* noSync = getenv("MORV_SHIM_NOSYNC");
    g_noSync = noSync && strcmp(noSync, "1") == 0;
    const char* kill = getenv("MORV_SHIM_KILL");
    if (kill) {
        char copy[512];
        snprintf(copy, sizeof copy, "%s", kill);
        char* count = strchr(copy, ':');
        if (count) {
            *count++ = '\0';
            char* prefix = strchr(count, ':');
            if (prefix) {
                *prefix++ = '\0';
                strncpy(g_killPrefix, prefix, sizeof g_killPrefix - 1);
            }
            strncpy(g_killKind, copy, sizeof g_killKind - 1);
            g_killAt = strtol(count, NULL, 10);
        }
    }
}

static void PathOfFd(int fd, char* out, size_t size)
{
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, out, size - 1);
    out[n > 0 ? n : 0] = '\0';
}

/* Called after the watched call returned successfully. */
static void Seen(const char* kind, const char* subject, const char* second)
{
    Setup();
    if (g_trace[0]) {
        const int fd = open(g_trace, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char line[8192];
            int n = snprintf(line, sizeof line, "%s\t%s%s%s\n", kind, subject, second ? "\t" : "",
                             second ? second : "");
            if (n > (int)sizeof line - 1)
                n = sizeof line - 1;
            /* One statement per line: line breaks inside it become blanks. */
            for (int i = 0; i < n - 1; ++i)
                if (line[i] == '\n' || line[i] == '\r')
                    line[i] = ' ';
            if (write(fd, line, (size_t)n) < 0) {
                /* A lost trace line shows up as a failed test, not here. */
            }
            close(fd);
        }
    }
    if (g_killAt > 0 && strcmp(kind, g_killKind) == 0 &&
        (!g_killPrefix[0] || strncasecmp(subject, g_killPrefix, strlen(g_killPrefix)) == 0) &&
        ++g_killCount == g_killAt)
        kill(getpid(), SIGKILL);
}

#define NEXT(type, name) ((type)dlsym(RTLD_NEXT, name))

int rename(const char* from, const char* to)
{
    const int result = NEXT(int (*)(const char*, const char*), "rename")(from, to);
    if (result == 0)
        Seen("rename", from, to);
    return result;
}

int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    const int result = NEXT(int (*)(int, const char*, int, const char*), "renameat")(fromDir, from, toDir, to);
    if (result == 0)
        Seen("rename", from, to);
    return result;
}

int unlink(const char* path)
{
    const int result = NEXT(int (*)(const char*), "unlink")(path);
    if (result == 0)
        Seen("unlink", path, NULL);
    return result;
}

int unlinkat(int dir, const char* path, int flags)
{
    const int result = NEXT(int (*)(int, const char*, int), "unlinkat")(dir, path, flags);
    if (result == 0 && !(flags & AT_REMOVEDIR))
        Seen("unlink", path, NULL);
    return result;
}

static int Sync(const char* name, int fd)
{
    Setup();
    if (g_noSync)
        return 0;
    char path[4096];
    PathOfFd(fd, path, sizeof path);
    const int result = NEXT(int (*)(int), name)(fd);
    if (result == 0)
        Seen("sync", path, NULL);
    return result;
}

int fsync(int fd)
{
    return Sync("fsync", fd);
}

int fdatasync(int fd)
{
    return Sync("fdatasync", fd);
}

static int IsCache(sqlite3* db)
{
    const char* (*filename)(sqlite3*, const char*) = NEXT(const char* (*)(sqlite3*, const char*), "sqlite3_db_filename");
    const char* name = db && filename ? filename(db, "main") : NULL;
    const char* suffix = "Attendance.db";
    const size_t length = name ? strlen(name) : 0;
    return length >= strlen(suffix) && strcmp(name + length - strlen(suffix), suffix) == 0;
}

int sqlite3_step(sqlite3_stmt* statement)
{
    const int result = NEXT(int (*)(sqlite3_stmt*), "sqlite3_step")(statement);
    if (result == SQLITE_DONE_CODE && !g_inExec) {
        sqlite3* (*handle)(sqlite3_stmt*) = NEXT(sqlite3* (*)(sqlite3_stmt*), "sqlite3_db_handle");
        const char* (*sql)(sqlite3_stmt*) = NEXT(const char* (*)(sqlite3_stmt*), "sqlite3_sql");
        if (IsCache(handle(statement)))
            Seen("sql", sql(statement) ? sql(statement) : "", NULL);
    }
    return result;
}

int sqlite3_exec(sqlite3* db, const char* sql, int (*callback)(void*, int, char**, char**), void* argument,
                 char** error)
{
    ++g_inExec;
    const int result = NEXT(int (*)(sqlite3*, const char*, int (*)(void*, int, char**, char**), void*, char**),
                            "sqlite3_exec")(db, sql, callback, argument, error);
    --g_inExec;
    if (result == 0 && IsCache(db))
        Seen("sql", sql ? sql : "", NULL);
    return result;
}
