// The password of an unattended run, read from a file only its owner can
// read: a command line is visible to every local user (ps), a private file
// is not, and a service manager can hand such a file over as a credential.
#pragma once

#include <QString>

namespace PasswordFile {

// Reads the password stored at `osPath` (a path as the operating system
// spells it). One trailing line break (LF or CR LF) is not part of the
// password. False, with `cause` naming the file and what is wrong with it,
// when the file cannot be read, is not a regular file, may be read by its
// group or others, is empty, or holds more than one line.
bool Read(const QString &osPath, QString &password, QString &cause);

} // namespace PasswordFile
