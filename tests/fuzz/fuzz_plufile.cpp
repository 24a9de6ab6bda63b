// The PLU file reader on arbitrary bytes. The first byte picks the decimal
// separator and the price mode; the rest is the file. Besides not crashing,
// a load -> save -> load -> save must give the same bytes twice, 77 lines,
// and the rows the load reports as reset are exactly those it shows as 0.
#include "plufile.h"
#include "plutable.h"
#include "pricemode.h"
#include "regional.h"
#include "workbook.h"
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        std::abort();
}

// Every reported row shows 0; every other row with a number shows it.
void checkReport(const Workbook& wb, const QByteArray& data)
{
    const PluFileCheck& check = wb.LastLoadCheck;
    QSet<int> reported;
    for (const QString& row : check.ResetRows) {
        const int line = row.section(' ', 1, 1).toInt();
        if (line < 1 || line > PluCount || reported.contains(line))
            std::abort();
        reported.insert(line);
    }
    const QList<QByteArray> lines = SplitPluLines(data, PluCount);
    const int decimals = wb.Options.PriceDecimal;
    for (int k = 1; k <= lines.size(); ++k) {
        const QByteArray shown = wb.Table.cell(colPrice, k);
        double v = 0;
        const bool number = regional::parseFloat(SplitPluFields(lines[k - 1]).Price, &v) && std::isfinite(v);
        if (reported.contains(k) && shown != ZeroText(decimals))
            std::abort();
        if (!reported.contains(k) && number && check.NotPluFile.isEmpty() && shown != PriceText(v, decimals))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // tmpfs when there is one: the atomic save syncs, which a disk makes slow.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/fuzz_plufile-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_plufile-XXXXXX"));
    if (!dir.isValid())
        std::abort();
    if (size == 0)
        return 0;
    const QString in = dir.filePath("in.KYR"), out1 = dir.filePath("out1.KYR"),
                  out2 = dir.filePath("out2.KYR");

    const uint8_t mode = data[0];
    regional::setDecimalSeparator(mode & 0x80 ? ',' : '.');
    TIniOptions options;
    options.PriceDecimal = (mode & 0x07) % 5;   // 4: a mode outside the table
    options.PriceMax = (mode & 0x08) ? 99999.99 : 9999999.0;
    options.PriceLength = 8;
    Workbook wb(options);
    wb.PriceFormat = (mode & 0x07) % 5 == 4 ? QByteArray() : QByteArray("%.2f");

    writeAll(in, QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    wb.ResetTable();
    wb.LoadPluFile(in);
    checkReport(wb, QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    wb.SavePluFile(out1);
    const QByteArray first = readAll(out1);
    if (first.count("\r\n") != PluCount)
        std::abort();

    wb.ResetTable();
    wb.LoadPluFile(out1);
    wb.SavePluFile(out2);
    if (readAll(out2) != first)
        std::abort();
    return 0;
}
