#include "scalecommands.h"
#include "atomicfile.h"
#include "busmaster.h"
#include "codepage.h"
#include "dialogs.h"
#include "errors.h"
#include "exedir.h"
#include "messagetexts.h"
#include "protocol.h"
#include "progress.h"
#include "regional.h"
#include "vemraencode.h"
#include "workbook.h"
#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int ProgressClosed = 2;

using namespace kyr;

// The second line of an error ending: the failed request's cause, and the
// PLU key when a PLU step failed.
QString CauseOf(const BusResult& result, int plu = 0)
{
    if (result.cause.isEmpty() || plu == 0)
        return result.cause;
    return result.cause + QStringLiteral(" at PLU ") + PluKeyName(plu);
}

} // namespace

// One scale command's progress dialog: shown at the start; fail() leaves it
// as the error form, and any other way out closes it, an exception (a
// config.ini write) too, so that the window is enabled again.
class CommandRun {
public:
    explicit CommandRun(ScaleCommands& c) : C(c) { C.Progress.Show(); }
    ~CommandRun()
    {
        if (Armed)
            C.Progress.Close();
    }
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;

    // The connect steps, with their status shown.
    BusResult connect()
    {
        C.Progress.SetStatus(MessageTexts[mtConnect], false);
        return C.Connect();
    }
    // The error form for a failed request; `plu` names the PLU step.
    CommandOutcome fail(int message, const BusResult& result, int plu = 0)
    {
        return fail(message, CauseOf(result, plu));
    }
    CommandOutcome fail(int message, const QString& cause) { return fail(MessageTexts[message], cause); }
    CommandOutcome fail(const QString& text, const QString& cause)
    {
        Armed = false;
        return C.ErrorEnding(text, cause);
    }
    // The disconnect step; the dialog goes once the scale has let go.
    BusResult disconnect()
    {
        C.Progress.SetStatus(MessageTexts[mtDisconnect], false);
        BusResult r = C.Bus.SendCommand(CmdDisconnect, 0, 0, 0);
        if (r)
            close();
        return r;
    }
    // The command keeps its dialog up itself (its own error form).
    void release() { Armed = false; }
    // Success: the dialog goes before the closing message.
    void close()
    {
        Armed = false;
        C.Progress.Close();
    }

private:
    ScaleCommands& C;
    bool Armed = true;
};

namespace {

QString Text(int index) { return MessageTexts[index]; }

const QString CompareStatus = QStringLiteral("Compare with scale...");
const QString CompareError = CompareStatus + QStringLiteral("Error!");
const QString Holds = QStringLiteral("The scale holds the table.");

// The first price the scale must not get, as the operator reads it; empty
// when every price is within 0 .. the maximum. A text that is no number goes
// out as 0, as an empty cell does.
QString OutOfRangePrice(const Workbook& wb)
{
    for (int i = 1; i <= PluCount; ++i) {
        const QByteArray text = wb.Table.cell(colPrice, i);
        double v = 0;
        if (!regional::parseFloat(text, &v) || (v >= 0 && v <= wb.Options.PriceMax))
            continue;
        return QStringLiteral("Download PLU not started: the price of %1 is %2.\n%3\n"
                              "Nothing was sent to the scale; correct the price and download again.")
            .arg(PluKeyName(i), cp::decode(text.trimmed()), wb.RangeMessage());
    }
    return {};
}

} // namespace

// ---------------------------------------------------------------- grid

QStringList SaleReportGrid::Row(int r) const
{
    return r >= 1 && r <= Rows.size() ? Rows[r - 1] : QStringList{};
}

void SaleReportGrid::AddRow(const QString& unitPrice, const QString& weight, const QString& total)
{
    Rows.last() = QStringList{unitPrice, weight, total};
    Rows.append(QStringList{});
    if (OnChanged)
        OnChanged();
}

// ---------------------------------------------------------------- commands

ScaleCommands::ScaleCommands(IBusMaster& bus, IProgress& progress, Workbook& workbook,
                             TVemraencode& codec)
    : Bus(bus), Progress(progress), Wb(workbook), Codec(codec)
{
}

BusResult ScaleCommands::RestoreCurrentPrice(const uint8_t (&price)[4])
{
    std::memcpy(Bus.Buffer, price, sizeof price);
    return Bus.SendCommand(CmdWrite, BankPlu, CurrentPriceAddress, PluRecordLength);
}

CommandOutcome ScaleCommands::ClosingMessage(int messageIndex)
{
    const QString ok = Text(messageIndex);
    dialogs().messageBox(ok, Caption, MsgIcon::Information, MsgButtons::Ok);
    return {CommandOutcome::Succeeded, ok, {}, {}};
}

BusResult ScaleCommands::Connect()
{
    if (BusResult r = Bus.SendCommand(CmdHello, 0, 0, 0); !r)
        return r;
    return Bus.SendCommand(CmdConnect, 0, 0, 0);
}

uint8_t ScaleCommands::UnitFlagFor(int unitIndex)
{
    return unitIndex == 0 || unitIndex == 1 ? 0 : 1;
}

int ScaleCommands::UnitIndexForFlag(uint8_t flag)
{
    return flag == 0 ? 1 : -1;
}

QString ScaleCommands::ReportFileName(const QDate& date)
{
    return ExeDir() + date.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".TXT");
}

QString ScaleCommands::ReportFileName()
{
    return ReportFileName(QDate::currentDate());
}

CommandOutcome ScaleCommands::ErrorEnding(int messageIndex, const QString& cause)
{
    return ErrorEnding(Text(messageIndex), cause);
}

CommandOutcome ScaleCommands::ErrorEnding(const QString& text, const QString& cause)
{
    if (Progress.ProgressState() == ProgressClosed)   // Cancel: the dialog is gone
        return {CommandOutcome::Cancelled, text, {}, cause};
    Progress.SetStatus(text, true);
    Progress.ShowCause(cause);
    Progress.WaitUntilClosed();
    return {CommandOutcome::Failed, text, {}, cause};
}

CommandOutcome ScaleCommands::DownloadItemClick()
{
    Differences.clear();
    LastBackup.clear();
    TIniOptions& options = Wb.Options;
    if (const QString refusal = OutOfRangePrice(Wb); !refusal.isEmpty()) {
        dialogs().messageBox(refusal, Caption, MsgIcon::Error, MsgButtons::Ok);
        return {CommandOutcome::Refused, refusal, {}, {}};
    }
    CommandRun run(*this);
    if (const BusResult r = run.connect(); !r)
        return run.fail(mtConnectError, r);
    if (BackupBeforeDownload) {
        if (const QString cause = BackupScale(); !cause.isEmpty()) {
            return run.fail(mtDownloadPLUError, cause);
        }
    }
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankPriceMode, PriceModeAddress, 1); !r)
        return run.fail(mtDownloadPLUError, r);
    ScaleTable sent;
    // The high nibble belongs to the scale: a "Price Dot" above 15 (only a
    // hand-edited config.ini has one) must not overwrite it.
    Bus.Buffer[0] = uint8_t((Bus.Buffer[0] & 0xF0) | (options.PriceDot & 0x0F));
    sent.ModeByte = Bus.Buffer[0];
    if (const BusResult r = Bus.SendCommand(CmdWrite, BankPriceMode, PriceModeAddress, 1); !r)
        return run.fail(mtDownloadPLUError, r);
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankSaleFigures, 0, SaleFiguresLength); !r)
        return run.fail(mtDownloadPLUError, r);
    uint8_t currentPrice[4];
    std::memcpy(currentPrice, Bus.Buffer + 5, sizeof currentPrice);

    Progress.SetTotal(PluCount);
    Progress.SetStatus(Text(mtDownloadPLU), false);
    for (int i = 1; i <= PluCount; ++i) {
        Progress.SetCurrent(i);
        sent.Records[size_t(i)] = DownloadRecord(Wb, Codec, i);
        std::memcpy(Bus.Buffer, sent.Records[size_t(i)].data(), PluRecordLength);
        if (const BusResult r = Bus.SendCommand(CmdWrite, BankPlu, pluAddress(i), PluRecordLength); !r)
            return run.fail(mtDownloadPLUError, r, i);
    }

    if (const BusResult r = RestoreCurrentPrice(currentPrice); !r)
        return run.fail(mtDownloadPLUError, r);
    if (VerifyAfterDownload) {
        if (std::optional<CommandOutcome> failed = VerifyDownload(sent)) {
            run.release();
            return *failed;
        }
    }
    if (const BusResult r = run.disconnect(); !r)
        return run.fail(mtDisconnectError, r);
    return ClosingMessage(mtDownloadPLUOK);
}

CommandOutcome ScaleCommands::UploadItemClick()
{
    if (!Wb.QuerySave())
        return {CommandOutcome::NotStarted, {}, {}, {}};
    Wb.ResetTable();
    Wb.Modified = true;

    CommandRun run(*this);
    if (const BusResult r = run.connect(); !r)
        return run.fail(mtConnectError, r);
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankSaleFigures, 0, SaleFiguresLength); !r)
        return run.fail(mtUploadPLUError, r);
    uint8_t currentPrice[4];
    std::memcpy(currentPrice, Bus.Buffer + 5, sizeof currentPrice);
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankPriceMode, PriceModeAddress, 1); !r)
        return run.fail(mtUploadPLUError, r);
    Wb.AdoptScalePriceMode(Bus.Buffer[0] & 0x0F);   // writes config.ini; may throw

    Progress.SetTotal(PluCount);
    Progress.SetStatus(Text(mtUploadPLU), false);
    const int decimals = Wb.Options.PriceDecimal;
    for (int i = 1; i <= PluCount; ++i) {
        Progress.SetCurrent(i);
        if (const BusResult r = Bus.ReadBlock(CmdRead, BankPlu, pluAddress(i), PluRecordLength); !r)
            return run.fail(mtUploadPLUError, r, i);
        const uint8_t flag = Bus.Buffer[0];
        Wb.Table.PluRecords[i].UnitIndex = UnitIndexForFlag(flag);
        Wb.Table.setCell(colUnit, i, cp::encode(Text(flag == 0 ? mtUnitKg : mtUnitG)));

        const auto count = static_cast<uint32_t>(
            DecodeField(fcBinary, Bus.Buffer, sizeof Bus.Buffer, 1, 3, 0).toDouble());
        const double price = double(static_cast<long double>(count) / std::pow(10.0L, decimals));
        const QByteArray text = decimals != 0
            ? regional::formatPrintf(Wb.PriceFormat, price)
            : regional::formatPrintf(Wb.PriceFormat, double(regional::roundHalfEven(price)));
        Wb.Table.setStoredPrice(i, text);
        Wb.Table.setCell(colPrice, i, text);
    }

    if (const BusResult r = RestoreCurrentPrice(currentPrice); !r)
        return run.fail(mtUploadPLUError, r);
    if (const BusResult r = run.disconnect(); !r)
        return run.fail(mtDisconnectError, r);
    CommandOutcome done = ClosingMessage(mtUploadPLUOK);
    Wb.Modified = true;
    return done;
}

CommandOutcome ScaleCommands::CompareItemClick()
{
    Differences.clear();
    CommandRun run(*this);
    if (const BusResult r = run.connect(); !r)
        return run.fail(mtConnectError, r);
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankSaleFigures, 0, SaleFiguresLength); !r)
        return run.fail(CompareError, r.cause);
    uint8_t currentPrice[4];
    std::memcpy(currentPrice, Bus.Buffer + 5, sizeof currentPrice);
    Progress.SetStatus(CompareStatus, false);
    ScaleTable scale;
    int failedRow = 0;
    if (const BusResult r = ReadScaleTable(Bus, Progress, &scale, &failedRow); !r)
        return run.fail(CompareError, ReadFailureCause(r, failedRow));
    if (const BusResult r = RestoreCurrentPrice(currentPrice); !r)
        return run.fail(CompareError, r.cause);
    if (const BusResult r = run.disconnect(); !r)
        return run.fail(mtDisconnectError, r);

    Differences = CompareWithTable(Wb, Codec, scale);
    if (!Differences.isEmpty())
        return {CommandOutcome::Differs, {}, {}, {}};
    dialogs().messageBox(Holds, Caption, MsgIcon::Information, MsgButtons::Ok);
    return {CommandOutcome::Succeeded, Holds, {}, {}};
}

CommandOutcome ScaleCommands::ReportItemClick()
{
    CommandRun run(*this);
    if (const BusResult r = run.connect(); !r)
        return run.fail(mtConnectError, r);
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankPriceMode, PriceModeAddress, 1); !r)
        return run.fail(mtSaleReportError, r);
    Wb.AdoptScalePriceMode(Bus.Buffer[0] & 0x0F);   // writes config.ini; may throw

    Progress.SetStatus(Text(mtSaleReport), false);
    if (const BusResult r = Bus.ReadBlock(CmdRead, BankSaleFigures, 0, SaleFiguresLength); !r)
        return run.fail(mtSaleReportError, r);
    // Up to 40 bits: exact in a double.
    auto bigEndian = [&](int first, int last) {
        double v = 0;
        for (int k = first; k <= last; ++k)
            v = v * 256 + Bus.Buffer[k];
        return v;
    };
    const double total = bigEndian(0, 4);
    const double unitPrice = bigEndian(5, 8);
    const double weight = bigEndian(9, 10);

    if (const BusResult r = Bus.ReadBlock(CmdRead, BankUnit, 0, 1); !r)
        return run.fail(mtSaleReportError, r);
    const int unitCode = Bus.Buffer[0] & 7;
    const QByteArray unit = unitCode == 0 ? "kg" : unitCode == 3 ? "g" : "";

    if (const BusResult r = run.disconnect(); !r)
        return run.fail(mtDisconnectError, r);

    const int d = Wb.Options.PriceDecimal;
    const QByteArray& format = Wb.PriceFormat;
    QByteArray c1, c3;
    if (d != 0) {
        const double scale = std::pow(10.0, d);
        c1 = regional::formatPrintf(format, unitPrice / scale);
        c3 = regional::formatPrintf(format, total / scale);
    } else {
        c1 = regional::formatPrintf(format, unitPrice);
        c3 = regional::formatPrintf(format, total);
    }
    const QByteArray c2 = unit == "g" ? regional::formatInt((long long)weight) + unit
                                      : regional::formatFixed(weight / 1000, 3) + unit;
    ReportGrid.AddRow(cp::decode(c1), cp::decode(c2), cp::decode(c3));

    const QByteArray line = c1 + '\t' + c2 + '\t' + c3;
    const QString path = ReportFileName(Today());
    // A pipe or device in the file's place would block or swallow the line.
    if (const QString why = NotAPlainFile(path); !why.isEmpty())
        throw EInOutError(QStringLiteral("Cannot open file ") + path, why);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw EInOutError(QStringLiteral("Cannot open file ") + path, file.errorString());
    const QByteArray bytes = line + "\r\n";
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw EInOutError(QStringLiteral("Cannot write file ") + path, file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot write file ") + path, file.errorString());
    return {CommandOutcome::Succeeded, {}, cp::decode(line), {}};
}

CommandOutcome ScaleCommands::Salereport1Click()
{
    // However the readout ends: the closing status, the dialog closed.
    struct Ending {
        IProgress& P;
        ~Ending()
        {
            P.SetStatus(Text(mtDisconnect), false);
            P.Close();
        }
    };

    Progress.Show();
    Ending ending{Progress};
    Progress.SetStatus(Text(mtConnect), false);

    const BusResult r = Bus.SendCommand(CmdAllValues, 0, 0, 0, ReplyForm::WholeFrame);
    if (!r) {
        const bool shortFrame = r.failure == BusFailure::BadFrame;
        return ErrorEnding(shortFrame ? mtProtocolError : mtConnectError, CauseOf(r));
    }

    // Fields past the frame's end read as zeros.
    constexpr int frameSize = MaxReply;
    uint8_t frame[frameSize] = {};
    std::memcpy(frame, r.bytes.constData(), size_t(std::min<qsizetype>(r.bytes.size(), frameSize)));
    const QByteArray state = DecodeField(fcText, frame, frameSize, 1, 20, 0).toByteArray();
    QString line;
    if (state == QByteArray(20, 'I')) {
        line = Text(mtStableError);
    } else if (state == QByteArray(20, 'N')) {
        line = Text(mtLiftedError);
    } else if (state == QByteArray(20, 'S')) {
        line = Text(mtOverError);
    } else {
        auto number = [&](int position, int count) {
            double v = 0;
            if (!regional::parseFloat(DecodeField(fcText, frame, frameSize, position, count, 0).toByteArray(), &v))
                v = 0;
            return v;
        };
        QByteArray weight = regional::formatFixed(number(2, 5) / 1000, 3);
        if (frame[1] == '-')
            weight.prepend('-');
        const QByteArray values = weight + "kg;" + regional::formatFixed(number(8, 6) / 100, 2) + ';'
            + regional::formatFixed(number(15, 6) / 100, 2);
        line = cp::decode(values);
    }
    if (AppendMemoLine)
        AppendMemoLine(line);
    return {CommandOutcome::Succeeded, {}, line, {}};
}
