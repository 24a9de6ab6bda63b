#pragma once
#include <QByteArray>
#include <QString>

// Replace `path` with `data` atomically: write a temporary file beside it,
// flush it to disk, rename it over the old file. On any failure the old file
// is left whole and EInOutError is thrown with the system's reason as detail.
// An existing file that may not be written is refused, as in place, and so is
// anything but a plain file (a directory, a device, a pipe). A symbolic link
// is written through, also when its target does not exist yet. Temporary
// files that interrupted saves of the same file left behind are removed.
void WriteFileAtomically(const QString& path, const QByteArray& data);

// Why `path` cannot be taken as a plain file: empty when nothing is there or
// it is a plain file (or a link to one); else the reason (a directory, or a
// pipe or device, which would block or never end).
QString NotAPlainFile(const QString& path);

// Throws what WriteFileAtomically(path, ...) would throw before writing a
// byte (missing or unwritable directory, a file that may not be replaced),
// so a long task can refuse a destination before it starts.
void CheckAtomicWrite(const QString& path);

// Test hook: the nth write(2) from now fails with errno `err` (a full disk
// is ENOSPC). 0 turns it off.
void SetAtomicWriteFailure(int nthWrite, int err);
