#pragma once
#include <QByteArray>

// The small text helpers of the file formats and printouts, on the bytes of
// the code page: widths count bytes, so a double-byte character is 2.

// Blanks and control characters (bytes 00..20) off both ends. Safe on
// double-byte text: trail bytes are never that low.
inline QByteArray trimBlanks(const QByteArray& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && uchar(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && uchar(text[end - 1]) <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

// Only spaces and tabs off both ends, as profile strings are trimmed.
inline QByteArray trimSpacesAndTabs(const QByteArray& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.mid(begin, end - begin);
}

// Blanks before `text` up to `width` bytes; never cut.
inline QByteArray padLeft(const QByteArray& text, int width)
{
    return text.size() >= width ? text : QByteArray(width - text.size(), ' ') + text;
}

// Blanks after `text` up to `width` bytes; never cut.
inline QByteArray padRight(const QByteArray& text, int width)
{
    return text.size() >= width ? text : text + QByteArray(width - text.size(), ' ');
}
