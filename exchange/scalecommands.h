#pragma once
#include "safetynets.h"
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

class IBusMaster;
struct BusResult;
class IProgress;
class Workbook;
class TVemraencode;

// The sale report grid StringGrid2: 4 columns, row 0 titles (painted),
// starts with 2 rows; each successful report fills the last row and adds an
// empty one below it.
class SaleReportGrid {
public:
    int RowCount() const { return Rows.size() + 1; }
    // Cell texts of data row r (1-based), columns 1..3; empty for the last row.
    QStringList Row(int r) const;
    void AddRow(const QString& unitPrice, const QString& weight, const QString& total);
    std::function<void()> OnChanged;
private:
    QList<QStringList> Rows{QStringList{}};   // data rows 1.. ; last one empty
};

// How a scale command ended, for the command line (the window reads the
// progress form and the message boxes instead).
struct CommandOutcome {
    // Refused: the command sent nothing, because of what the program holds.
    // Differs: it ran, and the scale does not hold what it should
    // (ScaleCommands::Differences says where).
    enum Kind { Succeeded, Failed, Cancelled, NotStarted, Refused, Differs } kind = NotStarted;
    QString text;      // success text, or the error text of the failed step
    QString line;      // report file line / Memo2 line that the command added
    QString cause;     // why the failed step failed: the error's second line
};

// The four scale commands, each a fixed sequence of requests, shared by the
// window's handlers and the command line.
class ScaleCommands {
public:
    ScaleCommands(IBusMaster& bus, IProgress& progress, Workbook& workbook, TVemraencode& codec);

    // Where the all-values readout adds its line (Memo2).
    std::function<void(const QString&)> AppendMemoLine;
    SaleReportGrid ReportGrid;

    // Refuses a table with a price outside 0 .. the mode's maximum before
    // the first frame (an error box names the key).
    CommandOutcome DownloadItemClick();
    CommandOutcome UploadItemClick();
    CommandOutcome ReportItemClick();
    CommandOutcome Salereport1Click();
    // Reads the scale's table with the upload's requests and compares it
    // with the table; changes nothing. Differs when anything differs.
    CommandOutcome CompareItemClick();

    // The download's safety nets; off unless the caller turns them on (the
    // window and the command line take them from config.ini [Options]).
    // Verify: after the write-back of the unit price, read the table back;
    // any difference fails the download (Differs, no disconnect). Backup:
    // after the connect, save the scale's table before anything is written.
    bool VerifyAfterDownload = false;
    bool BackupBeforeDownload = false;
    QString LastBackup;                        // the path the last backup went to
    QList<PluDifference> Differences;          // of the last compare or verify
    // The time a backup is named after (tests pin it).
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    // Report file of the current local date: ExeDir() + "yyyymmdd.TXT".
    static QString ReportFileName();
    static QString ReportFileName(const QDate& date);
    // The date the sale report files its line under (tests pin it).
    std::function<QDate()> Today = [] { return QDate::currentDate(); };
    // Caption of the success message boxes: the application title.
    QString Caption = QStringLiteral("Varlo Manager");

    // The unit flag written for a UnitIndex, and the UnitIndex an upload reads
    // back from a flag (they agree both ways).
    // Flag 0 is kg (UnitIndex 0 from a reset or a file, 1 from an upload);
    // any other unit goes out as 1 and comes back as UnitIndex -1 with the
    // text "g", so it keeps its flag over an upload/download round trip.
    static uint8_t UnitFlagFor(int unitIndex);
    static int UnitIndexForFlag(uint8_t flag);

private:
    friend class CommandRun;
    // The error ending: error form, wait for OK; nothing after a Cancel.
    CommandOutcome ErrorEnding(int messageIndex, const QString& cause);
    CommandOutcome ErrorEnding(const QString& text, const QString& cause);
    BusResult Connect();
    // Writes back the current-price record read from the sale figures at the
    // start, so the scale shows the price it showed before the command.
    BusResult RestoreCurrentPrice(const uint8_t (&price)[4]);
    // The success message of a finished transfer.
    CommandOutcome ClosingMessage(int messageIndex);
    // Empty when the backup is saved, else the cause.
    QString BackupScale();
    // The error ending when the scale does not hold what was sent.
    std::optional<CommandOutcome> VerifyDownload(const ScaleTable& sent);

    IBusMaster& Bus;
    IProgress& Progress;
    Workbook& Wb;
    TVemraencode& Codec;
};
