// A fresh temporary folder per test, as a folder spec, removed afterwards.
#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <string>

#include "util/XFileSpec.h"

class TempFolder
{
public:
    TempFolder() { m_dir.setAutoRemove(true); }

    // The folder as a spec ending in a backslash.
    XFileSpec Spec() const { return XFileSpec::FromNativePath(Native() + "/"); }
    std::string Native() const { return m_dir.path().toStdString(); }
    // A spec for a name inside the folder ("a\b.txt" for subfolders).
    XFileSpec Child(const char* relative) const
    {
        std::string path = Native() + "/" + relative;
        return XFileSpec::FromNativePath(path);
    }

private:
    QTemporaryDir m_dir;
};
