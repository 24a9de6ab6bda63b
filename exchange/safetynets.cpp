#include "safetynets.h"
#include "texthelpers.h"
#include "backups.h"
#include "busmaster.h"
#include "codepage.h"
#include "errors.h"
#include "messagetexts.h"
#include "plufile.h"
#include "pricemode.h"
#include "progress.h"
#include "protocol.h"
#include "regional.h"
#include "scalecommands.h"
#include "vemraencode.h"
#include "workbook.h"
#include <cmath>
#include <cstring>

using namespace kyr;

namespace {

const QString BackupStatus = QStringLiteral("Backup...");
const QString VerifyStatus = QStringLiteral("Verify...");

// The unit price count of a table price text: value x 10^decimals, halves
// to even. A text that is no number counts 0.
QVariant PriceCount(const QByteArray& text, int decimals)
{
    double value = 0;
    if (!regional::parseFloat(text, &value))
        value = 0;
    const long double count = RoundHalfEven(static_cast<long double>(value) * std::pow(10.0L, decimals));
    if (std::isfinite(count) && count < 0x1p63L && count >= -0x1p63L)
        return QVariant::fromValue<qint64>(static_cast<qint64>(count));
    return QVariant(double(count));   // no 64-bit form: the encoder writes zeros
}

QString UnitName(uint8_t flag) { return MessageTexts[flag == 0 ? mtUnitKg : mtUnitG]; }

QString Price(uint32_t count, int decimals) { return cp::decode(PriceTextOfUnits(count, decimals)); }

// The table's own unit text; an empty one goes out as kg.
QString TableUnit(const Workbook& wb, int row)
{
    const QString text = cp::decode(trimBlanks(wb.Table.cell(colUnit, row)));
    return text.isEmpty() ? UnitName(0) : text;
}

PluDifference ModeDifference(uint8_t expectedCode, uint8_t scaleCode)
{
    return {0, QStringLiteral("mode"), QString::number(expectedCode), {}, QString::number(scaleCode), {}};
}

} // namespace

QString PluDifference::line() const
{
    if (Row == 0)
        return Key + '\t' + ExpectedPrice + '\t' + ScalePrice;
    return Key + '\t' + ExpectedPrice + ' ' + ExpectedUnit + '\t' + ScalePrice + ' ' + ScaleUnit;
}

std::array<uint8_t, 4> DownloadRecord(const Workbook& wb, TVemraencode& codec, int row)
{
    uint8_t buffer[MaxReply] = {};
    buffer[0] = ScaleCommands::UnitFlagFor(wb.Table.PluRecords[row].UnitIndex);
    int position = 1;
    codec.EncodeField(fcBinary, PriceCount(wb.Table.cell(colPrice, row), wb.Options.PriceDecimal), buffer,
                      sizeof buffer, position, 3, 0);
    return {buffer[0], buffer[1], buffer[2], buffer[3]};
}

BusResult ReadScaleTable(IBusMaster& bus, IProgress& progress, ScaleTable* table, int* failedRow)
{
    *failedRow = 0;
    BusResult r = bus.ReadBlock(CmdRead, BankPriceMode, PriceModeAddress, 1);
    if (!r)
        return r;
    table->ModeByte = bus.Buffer[0];
    progress.SetTotal(PluRecords);
    for (int i = 1; i <= PluRecords; ++i) {
        progress.SetCurrent(i);
        r = bus.ReadBlock(CmdRead, BankPlu, pluAddress(i), PluRecordLength);
        if (!r) {
            *failedRow = i;
            return r;
        }
        std::memcpy(table->Records[size_t(i)].data(), bus.Buffer, PluRecordLength);
    }
    return r;
}

QString ReadFailureCause(const BusResult& result, int failedRow)
{
    return result.cause
        + (failedRow == 0 ? QStringLiteral(" at the price mode") : QStringLiteral(" at PLU ") + PluKeyName(failedRow));
}

QList<PluDifference> CompareWithTable(const Workbook& wb, TVemraencode& codec, const ScaleTable& scale)
{
    QList<PluDifference> out;
    const uint8_t code = wb.Options.PriceDot & 0x0F;   // what a download writes
    if ((scale.ModeByte & 0x0F) != code)
        out << ModeDifference(code, scale.ModeByte & 0x0F);
    const int decimals = wb.Options.PriceDecimal;
    for (int i = 1; i <= PluCount; ++i) {
        ScaleTable expected;
        expected.Records[size_t(i)] = DownloadRecord(wb, codec, i);
        const bool sameUnit = (expected.flag(i) == 0) == (scale.flag(i) == 0);
        if (sameUnit && expected.count(i) == scale.count(i))
            continue;
        out << PluDifference{i, PluKeyName(i), Price(expected.count(i), decimals), TableUnit(wb, i),
                             Price(scale.count(i), decimals), UnitName(scale.flag(i))};
    }
    return out;
}

QList<PluDifference> CompareWithSent(const ScaleTable& sent, const ScaleTable& scale, int priceDecimal)
{
    QList<PluDifference> out;
    if (sent.ModeByte != scale.ModeByte)
        out << ModeDifference(sent.ModeByte & 0x0F, scale.ModeByte & 0x0F);
    for (int i = 1; i <= PluCount; ++i) {
        if (sent.Records[size_t(i)] == scale.Records[size_t(i)])
            continue;
        out << PluDifference{i, PluKeyName(i), Price(sent.count(i), priceDecimal), UnitName(sent.flag(i)),
                             Price(scale.count(i), priceDecimal), UnitName(scale.flag(i))};
    }
    return out;
}

QString VerifyCause(const QList<PluDifference>& differences)
{
    if (differences.isEmpty())
        return {};
    const PluDifference& d = differences.first();
    QString sent = d.ExpectedPrice, held = d.ScalePrice;
    if (d.Row == 0) {
        sent = QStringLiteral("code ") + sent;
        held = QStringLiteral("code ") + held;
        if (sent == held)   // the scale's own half of the byte changed
            held += QStringLiteral(" with other bits");
    } else if (d.ExpectedUnit != d.ScaleUnit || sent == held) {
        sent += ' ' + d.ExpectedUnit;
        held += ' ' + d.ScaleUnit;
    }
    QString cause = QStringLiteral("%1: sent %2, the scale holds %3").arg(d.Key, sent, held);
    if (differences.size() > 1)
        cause += QStringLiteral(" (and %1 more)").arg(differences.size() - 1);
    return cause;
}

QByteArray BackupFileBytes(const Workbook& wb, const ScaleTable& scale)
{
    const PriceModeRow* mode = FindPriceMode(scale.ModeByte & 0x0F);
    const int decimals = mode ? mode->Decimals : wb.Options.PriceDecimal;
    QByteArray file;
    for (int i = 1; i <= PluCount; ++i)
        file += PluFileLine(PriceTextOfUnits(scale.count(i), decimals), wb.Table.cell(colName, i),
                            cp::encode(UnitName(scale.flag(i))));
    return file;
}

// ---------------------------------------------------------------- the commands' steps

QString ScaleCommands::BackupScale()
{
    Progress.SetStatus(BackupStatus, false);
    ScaleTable scale;
    int failedRow = 0;
    if (const BusResult r = ReadScaleTable(Bus, Progress, &scale, &failedRow); !r)
        return QStringLiteral("the backup could not be read: ") + ReadFailureCause(r, failedRow)
            + QStringLiteral("; nothing was written to the scale");
    try {
        LastBackup = SaveBackup(BackupFileBytes(Wb, scale), scale.ModeByte & 0x0F, Now());
    } catch (const AppError& e) {
        return QStringLiteral("the backup could not be saved: ") + e.Message
            + (e.Detail.isEmpty() ? QString() : QStringLiteral(" (") + e.Detail + ')')
            + QStringLiteral("; nothing was written to the scale");
    }
    return {};
}

std::optional<CommandOutcome> ScaleCommands::VerifyDownload(const ScaleTable& sent)
{
    Progress.SetStatus(VerifyStatus, false);
    ScaleTable scale;
    int failedRow = 0;
    if (const BusResult r = ReadScaleTable(Bus, Progress, &scale, &failedRow); !r)
        return ErrorEnding(mtDownloadPLUError, QStringLiteral("reading back: ") + ReadFailureCause(r, failedRow));
    Differences = CompareWithSent(sent, scale, Wb.Options.PriceDecimal);
    if (Differences.isEmpty())
        return std::nullopt;
    CommandOutcome out = ErrorEnding(mtDownloadPLUError, VerifyCause(Differences));
    if (out.kind == CommandOutcome::Failed)
        out.kind = CommandOutcome::Differs;
    return out;
}
