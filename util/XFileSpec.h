// XFileSpec: a file or folder path of at most 259 bytes. Inside the program
// the separator is always the backslash and a folder spec ends in one; the
// path is converted to the native '/' form only when the OS is called.
// A Linux path /tmp/x is "\tmp\x" here.
#pragma once

#include <cstdint>
#include <string>

#include "util/XString.h"

class XFileSpec
{
public:
    static constexpr uint32_t MaxPath = 259;    // bytes, without the terminator

    XFileSpec() = default;
    // Path setting: leading ".\" runs are dropped, '/' becomes '\'; a
    // relative path ("..\x", "./x") or one longer than MaxPath raises.
    XFileSpec(const char* path);
    XFileSpec(const XString& path) : XFileSpec(path.GetText()) {}
    XFileSpec& operator=(const char* path) { return *this = XFileSpec(path); }
    XFileSpec(const XFileSpec&) = default;
    XFileSpec& operator=(const XFileSpec&) = default;

    void Set(const char* path) { *this = XFileSpec(path); }
    // Takes an OS path ("/tmp/x") as it is.
    static XFileSpec FromNativePath(const std::string& nativePath);

    const char* GetPath() const { return m_path.GetText(); }
    operator const char*() const { return m_path.GetText(); }
    uint32_t GetLength() const { return m_path.GetLength(); }
    bool IsEmpty() const { return m_path.IsEmpty(); }
    // A folder spec ends in a backslash.
    bool IsFolder() const;
    // The text after the last backslash; empty for a folder spec.
    XString GetFilePart() const;
    // The text after the last point of the file part; empty when there is none.
    XString GetExtension() const;
    // The path with '/' separators, as the OS wants it.
    std::string ToNativePath() const;

    // Replaces the file part (or adds to a folder spec); no name cuts the
    // path after its last backslash. Raises when the result would not fit.
    XFileSpec& AppendName(const char* name);
    // AppendName, then make sure the path ends with a backslash.
    XFileSpec& AppendFolder(const char* name);
    XFileSpec& EnsureTrailingBackslash();
    // The folder spec holding this spec (C:\a\b\ and C:\a\b.txt give C:\a\).
    XFileSpec GetParent() const;

    // Whether the path names an existing file, folder or link.
    bool Exists() const;
    // Folder spec: creates the folder and every missing folder above it.
    // File spec: creates a new empty file (its folder must exist).
    void Create() const;
    // File: removes it, read-only or not. Folder: removes its files and,
    // recursively, its subfolders not beginning with a point, then the folder
    // itself if it is empty. Symbolic links are removed, never followed.
    void Delete() const;
    // Deletes the files of this folder that match the pattern ("*.*" for all).
    void PatternDelete(const char* pattern = nullptr) const;
    // Renames this file to target, replacing an existing target file (the
    // step that makes a file written under a temporary name visible).
    void MoveTo(const XFileSpec& target) const;

    bool operator==(const XFileSpec& other) const { return m_path == other.m_path; }
    bool operator!=(const XFileSpec& other) const { return m_path != other.m_path; }

private:
    void SetFilePart();
    void SetRaw(const XString& path);   // length check and file part, no rewriting

    XString m_path;
    int32_t m_filePart = -1;            // offset of the file name, -1 when none
};
