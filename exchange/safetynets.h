#pragma once
#include <QList>
#include <QString>
#include <array>
#include <cstdint>

class IBusMaster;
class IProgress;
class TVemraencode;
class Workbook;
struct BusResult;

// What the scale holds of the PLU transfers, or what a download writes
// there: the price mode byte and the 77 records (unit flag, 3-byte count).
struct ScaleTable {
    uint8_t ModeByte = 0;
    std::array<std::array<uint8_t, 4>, 78> Records{};   // [1 .. 77]; [0] unused

    uint8_t flag(int row) const { return Records[size_t(row)][0]; }
    uint32_t count(int row) const
    {
        const auto& r = Records[size_t(row)];
        return uint32_t(r[1]) << 16 | uint32_t(r[2]) << 8 | r[3];
    }
};

// A PLU, or the price mode, that the scale holds otherwise. Prices are in
// the table's price mode, units as an upload names them.
struct PluDifference {
    int Row = 0;   // 1 .. 77; 0 the price mode
    QString Key;   // "M1" .. "U70", "mode"
    QString ExpectedPrice, ExpectedUnit;   // the table's, or what was sent; the mode's code
    QString ScalePrice, ScaleUnit;         // the scale's; its mode code

    // KEY TAB PRICE UNIT TAB PRICE UNIT; "mode" TAB CODE TAB CODE.
    QString line() const;
};

// The record a download writes for table row `row`: the unit flag and the
// price as a count of the last decimal (halves to even), 3 bytes.
std::array<uint8_t, 4> DownloadRecord(const Workbook& wb, TVemraencode& codec, int row);

// Reads the price mode byte and the 77 records with the upload's requests,
// counting the records on `progress`. On failure `failedRow` is the record
// whose read failed (0: the price mode byte).
BusResult ReadScaleTable(IBusMaster& bus, IProgress& progress, ScaleTable* table, int* failedRow);
// A read's cause with where it failed: "... at PLU U3", "... at the price mode".
QString ReadFailureCause(const BusResult& result, int failedRow);

// Compare with the scale: the price mode code, the counts in the table's
// mode, and the units as kg or not (the way an upload reads the flag).
QList<PluDifference> CompareWithTable(const Workbook& wb, TVemraencode& codec, const ScaleTable& scale);
// Verify: what a download sent against what the scale holds, byte for byte.
QList<PluDifference> CompareWithSent(const ScaleTable& sent, const ScaleTable& scale, int priceDecimal);
// "U12: sent 3.99, the scale holds 4.99", units named when they differ,
// "(and N more)" when there are more.
QString VerifyCause(const QList<PluDifference>& differences);

// A PLU file of the scale's table: prices in the scale's own mode (the
// table's when its code is no price mode), units as an upload names them,
// names from the table.
QByteArray BackupFileBytes(const Workbook& wb, const ScaleTable& scale);
