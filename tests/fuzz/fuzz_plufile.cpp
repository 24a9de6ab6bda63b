// The PLU file reader on arbitrary bytes. The first byte picks the decimal
// separator and the price mode; the rest is the file. Besides not crashing,
// a load -> save -> load -> save must give the same bytes twice, 77 lines,
// and the rows the load reports as reset are exactly those it shows as 0.
#include "fuzzing.h"
#include "plufile.h"
#include "plutable.h"
#include "pricemode.h"
#include "regional.h"
#include "workbook.h"
#include <QSet>
#include <cmath>

namespace {

// Every reported row shows 0; every other row with a number shows it.
void checkReport(const Workbook& wb, const QByteArray& data)
{
    const PluFileCheck& check = wb.LastLoadCheck;
    QSet<int> reported;
    for (const QString& row : check.ResetRows) {
        const int line = row.section(' ', 1, 1).toInt();
        Require(line >= 1 && line <= PluCount && !reported.contains(line));
        reported.insert(line);
    }
    const QList<QByteArray> lines = SplitPluLines(data, PluCount);
    const int decimals = wb.Options.PriceDecimal;
    for (int k = 1; k <= lines.size(); ++k) {
        const QByteArray shown = wb.Table.cell(colPrice, k);
        double v = 0;
        const bool number = regional::parseFloat(SplitPluFields(lines[k - 1]).Price, &v) && std::isfinite(v);
        if (reported.contains(k))
            Require(shown == ZeroText(decimals));
        else if (number && check.NotPluFile.isEmpty())
            Require(shown == PriceText(v, decimals));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const QString in = ScratchFile("in.KYR"), out1 = ScratchFile("out1.KYR"), out2 = ScratchFile("out2.KYR");
    const uint8_t mode = data[0];
    regional::setDecimalSeparator(mode & 0x80 ? ',' : '.');
    TIniOptions options;
    options.PriceDecimal = (mode & 0x07) % 5;   // 4: a mode outside the table
    options.PriceMax = (mode & 0x08) ? 99999.99 : 9999999.0;
    options.PriceLength = 8;
    Workbook wb(options);
    wb.PriceFormat = options.PriceDecimal == 4 ? QByteArray() : QByteArray("%.2f");

    const QByteArray file = Bytes(data + 1, size - 1);
    WriteAll(in, file);
    wb.ResetTable();
    wb.LoadPluFile(in);
    checkReport(wb, file);
    wb.SavePluFile(out1);
    const QByteArray first = ReadAll(out1);
    Require(first.count("\r\n") == PluCount);

    wb.ResetTable();
    wb.LoadPluFile(out1);
    wb.SavePluFile(out2);
    Require(ReadAll(out2) == first);
    return 0;
}
