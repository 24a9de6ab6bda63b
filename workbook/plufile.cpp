#include "plufile.h"

QByteArray PadLeft(const QByteArray& text, int width)
{
    if (text.size() >= width)
        return text;
    return QByteArray(width - text.size(), ' ') + text;
}

QByteArray PadRight(const QByteArray& text, int width)
{
    if (text.size() >= width)
        return text;
    return text + QByteArray(width - text.size(), ' ');
}

QByteArray TrimBlanks(const QByteArray& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && uchar(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && uchar(text[end - 1]) <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

int UnitListIndex(const QByteArray& unitText)
{
    return unitText.compare("kg", Qt::CaseInsensitive) == 0 ? 0 : -1;
}

namespace {
// A TAB or line break typed or pasted into a cell would split its line:
// each becomes a blank. The unit is the last field, so it may keep TABs.
QByteArray oneField(QByteArray text, bool keepTabs)
{
    for (char& c : text)
        if (c == '\r' || c == '\n' || (c == '\t' && !keepTabs))
            c = ' ';
    return text;
}
} // namespace

QByteArray PluFileLine(const QByteArray& price, const QByteArray& name, const QByteArray& unit)
{
    return PadLeft(oneField(price, false), 8) + '\t' + PadRight(TrimBlanks(oneField(name, false)), 13)
        + '\t' + oneField(unit, true) + "\r\n";
}

QList<QByteArray> SplitPluLines(const QByteArray& data, int maxLines)
{
    QList<QByteArray> lines;
    qsizetype end = data.size();
    while (end > 0 && data[end - 1] == '\x1A')
        --end;
    qsizetype pos = 0;
    while (pos < end && lines.size() < maxLines) {
        qsizetype e = pos;
        while (e < end && data[e] != '\r' && data[e] != '\n')
            ++e;
        lines.append(data.mid(pos, e - pos));
        if (e < end)   // the line end: CR LF is one, a lone CR or LF another
            e += (data[e] == '\r' && e + 1 < end && data[e + 1] == '\n') ? 2 : 1;
        pos = e;
    }
    return lines;
}

PluFields SplitPluFields(const QByteArray& line)
{
    PluFields f;
    QByteArray rest = line;
    const qsizetype tab1 = rest.indexOf('\t');
    if (tab1 >= 0) {
        f.Price = rest.left(tab1);
        rest = rest.mid(tab1 + 1);
    }
    const qsizetype tab2 = rest.indexOf('\t');
    if (tab2 < 0) {
        f.Name = rest;
    } else {
        f.Name = rest.left(tab2);
        f.Unit = rest.mid(tab2 + 1);
    }
    return f;
}
