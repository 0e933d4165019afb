// Temporary-name-then-rename for a single export file.
#include "export/PendingFile.h"

#include "util/XException.h"
#include "util/XFileSystem.h"

#include <cerrno>

PendingFile::PendingFile(const XFileSpec& finalSpec)
    : m_finalSpec(finalSpec),
      m_tempSpec(XFileSpec::FromNativePath(XFileSystem::CreateUniqueTemp(finalSpec.ToNativePath())))
{
}

PendingFile::~PendingFile()
{
    if (!m_done)
        XFileSystem::Current().Unlink(m_tempSpec.ToNativePath().c_str());
}

void PendingFile::Commit()
{
    if (XFileSystem::Current().Rename(m_tempSpec.ToNativePath().c_str(), m_finalSpec.ToNativePath().c_str()) != 0)
        XException::RaiseError(XErrorKind::InputOutput, errno, "Could not replace file ( %d ): %s", errno, m_finalSpec.GetPath());
    m_done = true;
}

void PendingFile::Discard()
{
    XFileSystem::Current().Unlink(m_tempSpec.ToNativePath().c_str());
    m_done = true;
}
