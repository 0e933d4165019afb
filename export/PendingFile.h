// An export file written under a temporary name beside its final name and
// moved onto the final name only once it is complete, so that a failed run
// leaves the previous complete file in place instead of a truncated one.
#pragma once

#include "util/XFileSpec.h"

class PendingFile
{
public:
    // Creates the temporary file beside `finalSpec` under a new unique name,
    // exclusively (see XFileSystem::CreateUniqueTemp).
    explicit PendingFile(const XFileSpec& finalSpec);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~PendingFile();

    const XFileSpec& TempSpec() const { return m_tempSpec; }
    const XFileSpec& FinalSpec() const { return m_finalSpec; }

    // Moves the closed temporary file onto the final name, replacing an
    // existing file; raises XException when the file system refuses.
    void Commit();
    // Removes the temporary file; a missing one is no error.
    void Discard();

private:
    XFileSpec m_finalSpec;
    XFileSpec m_tempSpec;
    bool m_done = false;
};
