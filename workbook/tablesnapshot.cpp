#include "tablesnapshot.h"
#include "workbook.h"
#include <cstring>

namespace {
bool sameRecord(const TPluRecord& a, const TPluRecord& b)
{
    // Bitwise for the price: a restored table must be the same, NaN or -0 included.
    return std::memcmp(&a.Price, &b.Price, sizeof a.Price) == 0 && a.Name == b.Name
        && a.UnitIndex == b.UnitIndex && a.UnitText == b.UnitText;
}
} // namespace

bool TableSnapshot::sameTable(const TableSnapshot& o) const
{
    if (Cells != o.Cells || Stored != o.Stored)
        return false;
    for (int r = 0; r < PluRows; ++r)
        if (!sameRecord(Records[r], o.Records[r]))
            return false;
    return true;
}

bool TableSnapshot::sameMode(const TableSnapshot& o) const
{
    return PriceDecimal == o.PriceDecimal && PriceLength == o.PriceLength && PriceMax == o.PriceMax
        && PriceDot == o.PriceDot && PriceFormat == o.PriceFormat;
}

TableSnapshot CaptureTable(const Workbook& wb)
{
    TableSnapshot s;
    for (int r = 0; r < PluRows; ++r) {
        for (int c = 0; c < PluColumns; ++c)
            s.Cells[r][c] = wb.Table.cell(c, r);
        s.Stored[r] = wb.Table.storedPrice(r);
        if (r >= 1)
            s.Records[r] = wb.Table.PluRecords[r];
    }
    s.PriceDecimal = wb.Options.PriceDecimal;
    s.PriceLength = wb.Options.PriceLength;
    s.PriceMax = wb.Options.PriceMax;
    s.PriceDot = wb.Options.PriceDot;
    s.PriceFormat = wb.PriceFormat;
    return s;
}

void RestoreTable(Workbook& wb, const TableSnapshot& s)
{
    if (!s.sameMode(CaptureTable(wb))) {
        TIniOptions wanted = wb.Options;
        wanted.PriceDecimal = s.PriceDecimal;
        wanted.PriceLength = s.PriceLength;
        wanted.PriceMax = s.PriceMax;
        wanted.PriceDot = s.PriceDot;
        wanted.SaveOptions(wb.ConfigFileName);   // throws before anything changed
        wb.Options = wanted;
        wb.PriceFormat = s.PriceFormat;
    }
    for (int r = 0; r < PluRows; ++r) {
        for (int c = 0; c < PluColumns; ++c)
            wb.Table.setCell(c, r, s.Cells[r][c]);
        wb.Table.setStoredPrice(r, s.Stored[r]);
        if (r >= 1)
            wb.Table.PluRecords[r] = s.Records[r];
    }
    wb.PriceTyped = false;
}
