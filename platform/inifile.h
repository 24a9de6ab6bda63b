#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// INI profile strings with the rules the settings and language files rely on:
//  - section and key names compare without regard to ASCII letter case;
//  - blanks around a value are dropped, then one pair of enclosing single or
//    double quotes is removed ("Ranging between 0 and " keeps its blank);
//  - values are cut to 2047 bytes;
//  - a write replaces one key in place and keeps every other line and comment
//    as it was; it creates the file and the section when missing; lines end in
//    CR LF; the file is replaced atomically (temporary file, then rename).
// Values are the 8-bit bytes of the file.
class IniFile {
public:
    // Reads and parses the file once; a missing or unreadable file is empty.
    explicit IniFile(const QString& path);

    const QString& path() const { return Path; }
    bool exists() const { return Exists; }

    // The value of section/key, or `def` when the section or key is absent.
    QByteArray readString(const QByteArray& section, const QByteArray& key,
                          const QByteArray& def, bool* found = nullptr) const;
    // Integer value (whole decimal number, optional sign); `def` when absent
    // or not a number.
    long long readInt(const QByteArray& section, const QByteArray& key, long long def) const;

    // One-shot write of one key. Throws EIniError "Unable to write to <path>"
    // with the system's reason as detail when the file cannot be written.
    static void writeString(const QString& path, const QByteArray& section,
                            const QByteArray& key, const QByteArray& value);
    // Several keys of one section in one atomic replace, in the given order.
    static void writeStrings(const QString& path, const QByteArray& section,
                             const QList<QPair<QByteArray, QByteArray>>& keyValues);

    static constexpr int MaxValueLength = 2047;

private:
    struct Entry {
        QByteArray section;   // as written in the file
        QByteArray key;
        QByteArray value;     // already unquoted and trimmed
    };
    QString Path;
    bool Exists = false;
    QList<Entry> Entries;
};
