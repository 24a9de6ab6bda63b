#pragma once
// Readable gtest failure messages for Qt text and bytes: bytes outside
// printable ASCII are shown as \xHH.
#include <QByteArray>
#include <QString>
#include <cstdio>
#include <ostream>

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"';
    for (const char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            *os << c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(static_cast<unsigned char>(c)));
            *os << hex;
        }
    }
    *os << '"';
}

inline void PrintTo(const QString& text, std::ostream* os) { PrintTo(text.toUtf8(), os); }
