#pragma once
#include <QByteArray>
#include <QString>

// Files are 8-bit text in the system's code page. The model keeps texts as
// the bytes they are in the files; convert only at the display boundary.
namespace cp {

// The code page in force: VARLO_CODEPAGE if set, otherwise the locale's
// character set (nl_langinfo(CODESET)); "ISO-8859-1" for the C/POSIX locale.
QByteArray name();
// Override (tests, --demo). An unknown name, or one that does not spell
// ASCII as single bytes of the same value (UTF-16, EBCDIC), falls back to
// ISO-8859-1.
void setName(const QByteArray& codePage);
// Drop the override: VARLO_CODEPAGE, then the locale, again.
void useLocaleCodePage();

// The code page asked for (VARLO_CODEPAGE or the locale's) when it was
// refused and ISO-8859-1 stands in for it; empty when it is in force.
QByteArray refusedName();

QString decode(const QByteArray& bytes);
QByteArray encode(const QString& text);

// Byte length of `text` once encoded (widths of files and printouts count bytes).
int byteLength(const QString& text);

} // namespace cp
