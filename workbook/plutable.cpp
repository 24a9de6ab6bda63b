#include "plutable.h"

namespace {
bool validRow(int row) { return row >= 0 && row < PluRows; }
bool validCell(int col, int row) { return validRow(row) && col >= 0 && col < PluColumns; }
} // namespace

QByteArray PluKeyLabel(int row)
{
    return row <= 7 ? "M" + QByteArray::number(row) : "U" + QByteArray::number(row - 7);
}

int PluRowOfKey(const QByteArray& key)
{
    const QByteArray k = key.trimmed().toUpper();
    const bool lettered = k.startsWith('M') || k.startsWith('U');
    const QByteArray digits = lettered ? k.mid(1) : k;
    if (digits.isEmpty() || digits.size() > 2 || digits[0] == '0')
        return 0;
    for (char c : digits)
        if (c < '0' || c > '9')
            return 0;
    const int n = digits.toInt();
    if (!lettered)
        return n <= PluCount ? n : 0;
    if (k[0] == 'M')
        return n <= 7 ? n : 0;
    return n <= PluCount - 7 ? n + 7 : 0;
}

PluTable::PluTable(QObject* parent) : QObject(parent) {}

QByteArray PluTable::cell(int col, int row) const
{
    return validCell(col, row) ? Cells[row][col] : QByteArray();
}

void PluTable::setCell(int col, int row, const QByteArray& text)
{
    if (!validCell(col, row) || Cells[row][col] == text)
        return;
    Cells[row][col] = text;
    emit cellChanged(row, col);
}

QByteArray PluTable::storedPrice(int row) const { return validRow(row) ? Stored[row] : QByteArray(); }

void PluTable::setStoredPrice(int row, const QByteArray& text)
{
    if (validRow(row))
        Stored[row] = text;
}
