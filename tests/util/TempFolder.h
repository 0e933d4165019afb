// A fresh temporary folder per test, as a folder spec, removed afterwards,
// and plain byte-exact file access by native path, so that tests check what
// the code under test wrote (or read) without going through it.
#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
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

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadNative(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteNative(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}
