// Temporary-name-then-rename for export files.
#include "export/PendingFile.h"

#include "util/XException.h"

#include <cerrno>
#include <cstdio>

PendingFile::PendingFile(const XFileSpec& finalSpec)
    : m_finalSpec(finalSpec), m_tempSpec(XString(finalSpec.GetPath()) + ".part")
{
}

PendingFile::~PendingFile()
{
    if (!m_done)
        std::remove(m_tempSpec.ToNativePath().c_str());
}

void PendingFile::Commit()
{
    if (std::rename(m_tempSpec.ToNativePath().c_str(), m_finalSpec.ToNativePath().c_str()) != 0)
        XException::RaiseError(errno, "Could not replace file ( %d ): %s", errno,
                               m_finalSpec.GetPath());
    m_done = true;
}

void PendingFile::Discard()
{
    std::remove(m_tempSpec.ToNativePath().c_str());
    m_done = true;
}
