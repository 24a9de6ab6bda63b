#include "inifile.h"
#include "atomicfile.h"
#include "errors.h"
#include "regional.h"
#include "texthelpers.h"
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

// ASCII letters only: bytes of other code pages compare as they are.
bool sameName(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Lines without their ends; CR LF, LF and a lone CR all end a line.
QList<QByteArray> splitLines(const QByteArray& data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        lines.append(data.mid(start, i - start));
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < data.size())
        lines.append(data.mid(start));
    return lines;
}

// Editors that save UTF-8 may put a byte-order mark before the first
// section line, which would hide that section.
const QByteArray Utf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

QByteArray withoutBom(const QByteArray& data)
{
    return data.startsWith(Utf8Bom) ? data.mid(Utf8Bom.size()) : data;
}

// One parsed line.
struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    QByteArray name;    // section or key name, trimmed
    QByteArray value;   // raw text after '='
};

Line parseLine(const QByteArray& raw)
{
    const QByteArray t = trimSpacesAndTabs(raw);
    Line l;
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        l.kind = Line::Section;
        l.name = trimSpacesAndTabs(t.mid(1, close < 0 ? -1 : close - 1));
    } else if (!t.startsWith(';')) {
        const qsizetype eq = t.indexOf('=');
        if (eq > 0) {
            l.name = trimSpacesAndTabs(t.left(eq));
            if (!l.name.isEmpty()) {
                l.kind = Line::Key;
                l.value = t.mid(eq + 1);
            }
        }
    }
    return l;
}

QByteArray cleanValue(const QByteArray& raw)
{
    QByteArray v = trimSpacesAndTabs(raw);
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        v = v.mid(1, v.size() - 2);
    v.truncate(IniFile::MaxValueLength);
    return v;
}

// What is written must read back the same: one line, and quotes around a
// value the reader would otherwise trim or unquote.
QByteArray storedValue(QByteArray v)
{
    qsizetype end = 0;
    while (end < v.size() && v[end] != '\r' && v[end] != '\n')
        ++end;
    v.truncate(end);
    if (v.isEmpty())
        return v;
    const bool quoted = v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0];
    if (trimSpacesAndTabs(v).size() != v.size() || quoted)
        return '"' + v + '"';
    return v;
}

} // namespace

// Entries keep the file order; each section header adds an entry with an
// empty key, so a section that appears twice stays two sections (only the
// first one is read).
IniFile::IniFile(const QString& path) : Path(path)
{
    // Plain files only: opening a pipe waits for a writer, and a device such
    // as /dev/zero never ends. Anything else reads as a missing file.
    if (!QFileInfo(path).isFile())
        return;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    Exists = true;
    bool inSection = false;
    for (const QByteArray& raw : splitLines(withoutBom(f.readAll()))) {
        const Line l = parseLine(raw);
        if (l.kind == Line::Section) {
            Entries.append({l.name, {}, {}});
            inSection = true;
        } else if (l.kind == Line::Key && inSection) {
            Entries.append({Entries.back().section, l.name, cleanValue(l.value)});
        }
    }
}

QByteArray IniFile::readString(const QByteArray& section, const QByteArray& key,
                               const QByteArray& def, bool* found) const
{
    const QByteArray s = trimSpacesAndTabs(section), k = trimSpacesAndTabs(key);
    qsizetype i = 0;
    while (i < Entries.size() && !(Entries[i].key.isEmpty() && sameName(Entries[i].section, s)))
        ++i;
    if (i < Entries.size()) {
        for (++i; i < Entries.size() && !Entries[i].key.isEmpty(); ++i) {
            if (sameName(Entries[i].key, k)) {
                if (found)
                    *found = true;
                return Entries[i].value;
            }
        }
    }
    if (found)
        *found = false;
    return def;
}

long long IniFile::readInt(const QByteArray& section, const QByteArray& key, long long def) const
{
    bool found = false;
    const QByteArray v = readString(section, key, {}, &found);
    long long n = 0;
    return found && regional::parseInt(v, &n) ? n : def;
}

void IniFile::writeString(const QString& path, const QByteArray& section,
                          const QByteArray& key, const QByteArray& value)
{
    writeStrings(path, section, {{key, value}});
}

void IniFile::writeStrings(const QString& path, const QByteArray& section,
                           const QList<QPair<QByteArray, QByteArray>>& keyValues)
{
    const QString failure = QStringLiteral("Unable to write to ") + path;
    QByteArray data;
    {
        if (const QString why = NotAPlainFile(path); !why.isEmpty())
            throw EIniError(failure, why);
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            data = f.readAll();
        else if (f.exists())
            throw EIniError(failure, f.errorString());
    }
    const bool bom = data.startsWith(Utf8Bom);
    QList<QByteArray> lines = splitLines(withoutBom(data));
    const QByteArray s = trimSpacesAndTabs(section);

    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size() && header < 0; ++i) {
        const Line l = parseLine(lines[i]);
        if (l.kind == Line::Section && sameName(l.name, s))
            header = i;
    }
    if (header < 0) {
        if (!lines.isEmpty() && !trimSpacesAndTabs(lines.back()).isEmpty())
            lines.append(QByteArray());
        lines.append('[' + s + ']');
        header = lines.size() - 1;
    }
    for (const auto& [rawKey, value] : keyValues) {
        const QByteArray k = trimSpacesAndTabs(rawKey);
        const QByteArray line = k + '=' + storedValue(value);
        qsizetype end = header + 1, lastUsed = header, at = -1;
        for (; end < lines.size(); ++end) {
            const Line l = parseLine(lines[end]);
            if (l.kind == Line::Section)
                break;
            if (l.kind == Line::Key && at < 0 && sameName(l.name, k))
                at = end;
            if (!trimSpacesAndTabs(lines[end]).isEmpty())
                lastUsed = end;
        }
        if (at >= 0)
            lines[at] = line;
        else
            lines.insert(lastUsed + 1, line);   // blank lines before the next section stay there
    }
    QByteArray out = bom ? Utf8Bom : QByteArray();
    for (const QByteArray& l : lines)
        out += l + "\r\n";
    try {
        WriteFileAtomically(path, out);
    } catch (const EInOutError& e) {
        throw EIniError(failure, e.Detail);
    }
}
