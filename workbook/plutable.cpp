#include "plutable.h"

namespace {
bool validRow(int row) { return row >= 0 && row < PluRows; }
bool validCell(int col, int row) { return validRow(row) && col >= 0 && col < PluColumns; }
} // namespace

QString PluKeyLabel(int row)
{
    return row <= 7 ? QStringLiteral("M%1").arg(row) : QStringLiteral("U%1").arg(row - 7);
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
