// The CSV import on arbitrary bytes. The first byte picks the decimal
// separator, the price mode and the code page; the rest is the file.
// Besides not crashing: what a good import leaves in the table exports
// into a CSV that imports again, changing nothing.
#include "codepage.h"
#include "fuzzing.h"
#include "pricecsv.h"
#include "regional.h"
#include "workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t pick = data[0];
    regional::setDecimalSeparator(pick & 0x80 ? ',' : '.');
    static const char* const codePages[] = {"UTF-8", "ISO-8859-1", "GBK", "CP1252"};
    cp::setName(codePages[(pick >> 4) & 0x03]);
    static const double maxima[] = {9999999.0, 999999.9, 99999.99, 9999.999};
    TIniOptions options;
    options.PriceDecimal = pick & 0x03;
    options.PriceMax = maxima[options.PriceDecimal];
    options.PriceLength = 8;
    Workbook wb(options);
    wb.ResetTable();

    const CsvImport first = ReadPluCsv(Bytes(data + 1, size - 1), wb);
    if (!first.ok())
        return 0;
    ApplyPluCsv(first, wb);
    const CsvImport again = ReadPluCsv(ExportPluCsv(wb.Table, DefaultCsvSeparator()), wb);
    Require(again.ok() && ApplyPluCsv(again, wb) == 0);
    return 0;
}
