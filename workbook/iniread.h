#pragma once
#include "inifile.h"
#include "regional.h"
#include <climits>

// A 32-bit integer key: absent, not a whole number, or out of range -> def.
inline int ReadIniInt32(const IniFile& ini, const QByteArray& section, const QByteArray& key, int def)
{
    bool found = false;
    const QByteArray text = ini.readString(section, key, {}, &found);
    long long v = 0;
    if (!found || !regional::parseInt(text, &v) || v < INT_MIN || v > INT_MAX)
        return def;
    return int(v);
}
