#include "workbook.h"
#include "atomicfile.h"
#include "codepage.h"
#include "dialogs.h"
#include "errors.h"
#include "exedir.h"
#include "messagetexts.h"
#include "plufile.h"
#include "pricemode.h"
#include "regional.h"
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <iterator>

namespace {

constexpr double WholePriceLimit = 9999999;   // mode 0: seven digits
constexpr int NameKeyLimit = 13;              // bytes a typed name may reach

// Hourglass for the lifetime of a file operation, also when it throws.
class BusyCursor {
public:
    explicit BusyCursor(Workbook* wb) : Wb(wb) { emit Wb->cursorBusy(true); }
    ~BusyCursor() { emit Wb->cursorBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
private:
    Workbook* Wb;
};

bool isControlKey(QChar key) { return key.unicode() < 32; }

// Entry 31 is plain text: a '%' from a language file stays a '%'.
QString rangeMessage(int priceDecimal, double priceMax)
{
    const double limit = priceDecimal == 0 ? WholePriceLimit : priceMax;
    return MessageTexts[mtRange] + QString::fromLatin1(PriceText(limit, priceDecimal));
}

void showRangeMessage(const QString& text)
{
    dialogs().messageBox(text, QStringLiteral("Error"), MsgIcon::Error, MsgButtons::Ok);
}

} // namespace

Workbook::Workbook(TIniOptions& options, QObject* parent) : QObject(parent), Options(options) {}

// ---------------------------------------------------------------- start-up

void Workbook::Initialise()
{
    ConfigFileName = ExeDir() + QStringLiteral("config.ini");
    Options.PriceMaxText = QByteArray("99999") + regional::decimalSeparator() + "99";
    Options.LoadOptions(ConfigFileName);
    PriceFormat = PriceFormatFor(Options.PriceDecimal, PriceFormat);
    ResetTable();
}

QString RecordFileName() { return ExeDir() + QStringLiteral("Record.txt"); }

void CreateRecordFile()
{
    static const char header[] = "\xD6\xD8\xC1\xBF\t\xB5\xA5\xD6\xD8\t\xCA\xFD\xC1\xBF\r\n";
    const QString path = RecordFileName();
    if (QFileInfo::exists(path))
        return;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(path))   // created meanwhile: leave it alone
            return;
        throw EInOutError(QStringLiteral("Cannot create file \"%1\".").arg(path), f.errorString());
    }
    const qint64 size = qint64(sizeof header - 1);
    const bool ok = f.write(header, size) == size && f.flush();
    const QString reason = f.errorString();
    f.close();
    if (!ok || f.error() != QFileDevice::NoError) {
        QFile::remove(path);
        throw EInOutError(QStringLiteral("Cannot write file \"%1\".").arg(path), reason);
    }
}

// ---------------------------------------------------------------- prices

bool Workbook::toPrice(const QByteArray& text, double* v) const
{
    double x = 0;
    if (!regional::parseFloat(text, &x) || !std::isfinite(x))
        return false;
    *v = x;
    return true;
}

// Negative prices fail like prices above the maximum: the range is 0..PriceMax.
bool Workbook::priceInRange(double v) const { return v >= 0 && v <= Options.PriceMax; }

QByteArray Workbook::priceText(double v) const { return PriceText(v, Options.PriceDecimal); }

QByteArray Workbook::zeroText() const { return ZeroText(Options.PriceDecimal); }

// ---------------------------------------------------------------- table

void Workbook::ResetTable()
{
    for (int r = 1; r <= PluCount; ++r)
        Table.PluRecords[r] = TPluRecord();
    const QByteArray zero = zeroText();
    const QByteArray unit = cp::encode(MessageTexts[mtUnitReset]);
    for (int r = 1; r <= PluCount; ++r) {
        Table.setCell(colPrice, r, zero);
        Table.setStoredPrice(r, zero);
        Table.setCell(colName, r, {});
        Table.setCell(colUnit, r, unit);
    }
    CurrentFileName.clear();
    Modified = false;
    PendingRow = 0;
}

void Workbook::ShowRecords()
{
    const QByteArray zero = zeroText();
    for (int r = 1; r <= PluCount; ++r) {
        Table.setCell(colPrice, r, zero);
        Table.setStoredPrice(r, zero);
        Table.setCell(colName, r, {});
        Table.setCell(colUnit, r, {});
    }
    for (int r = 1; r <= PluCount; ++r) {
        const TPluRecord& rec = Table.PluRecords[r];
        const double price = rec.Price;
        QByteArray text;
        if (Options.PriceDecimal == 0) {
            // The limit applies to the rounded value; below -0.5 it rounds negative.
            const bool over = !(price < WholePriceLimit + 0.5);
            text = (over || price < -0.5) ? zero : priceText(price);
        } else if (Options.PriceDecimal >= 1 && Options.PriceDecimal <= 3) {
            text = (price > Options.PriceMax || price < 0) ? zero : priceText(price);
        } else {
            text = priceText(price);   // no format in force: empty
        }
        Table.setCell(colPrice, r, text);
        Table.setStoredPrice(r, text);
        Table.setCell(colName, r, rec.Name);
        Table.setCell(colUnit, r, rec.UnitText);
    }
    PendingRow = 0;
}

// ---------------------------------------------------------------- editing rules

bool Workbook::KeyPress(int col, int row, QChar key, const QByteArray& editorText, bool editorHasSelection)
{
    if (isControlKey(key))
        return true;
    if (col == colPrice) {
        if (!PriceKeyAllowed(key, row, editorText, editorHasSelection))
            return false;
        PriceTyped = true;
        return true;
    }
    if (col == colName)
        return editorText.size() < NameKeyLimit;
    return true;
}

bool Workbook::PriceKeyAllowed(QChar key, int /*row*/, const QByteArray& editorText,
                               bool editorHasSelection) const
{
    const bool digit = key >= QLatin1Char('0') && key <= QLatin1Char('9');
    const bool separator = key == QLatin1Char(regional::decimalSeparator());
    bool allowed;
    switch (Options.PriceDecimal) {
    case 0: allowed = digit; break;
    case 1:
    case 2:
    case 3: allowed = digit || separator; break;
    default: allowed = true; break;
    }
    const bool full = editorText.size() >= Options.PriceLength && !editorHasSelection;
    return allowed && !full;
}

void Workbook::SetEditText(int col, int row, const QByteArray& text)
{
    Table.setCell(col, row, text);
    // Pasted and shortened prices too: a later price mode change must not
    // bring back a text the operator has replaced.
    if (col == colPrice) {
        PriceTyped = false;
        Table.setStoredPrice(row, text);
    }
}

void Workbook::GetEditText(int col, int row)
{
    Modified = true;
    if (col == colPrice)
        PendingRow = row;
}

QString Workbook::RangeMessage() const { return rangeMessage(Options.PriceDecimal, Options.PriceMax); }

void Workbook::followStore(int row, const QByteArray& accepted, double v)
{
    double stored = 0;
    if (!toPrice(Table.storedPrice(row), &stored) || priceText(stored) != priceText(v))
        Table.setStoredPrice(row, accepted);
}

bool Workbook::SelectCell(int col, int row)
{
    if (col != colPrice) {
        emit editAccepted();
        return true;
    }
    const QByteArray accepted = Table.cell(colPrice, row);
    double v = 0;
    if (!toPrice(accepted, &v) || !priceInRange(v)) {
        showRangeMessage(RangeMessage());
        return false;
    }
    const QByteArray text = priceText(v);
    Table.setCell(colPrice, row, text);
    if (PriceTyped) {
        PriceTyped = false;
        Table.setStoredPrice(row, text);
    } else {
        followStore(row, accepted, v);
    }
    if (PendingRow == row)
        PendingRow = 0;
    emit editAccepted();
    return true;
}

void Workbook::ExitGrid(int col, int row)
{
    if (col != colPrice) {
        emit editAccepted();
        return;
    }
    const QByteArray accepted = Table.cell(colPrice, row);
    double v = 0;
    if (!toPrice(accepted, &v)) {
        dialogs().beep();
        Table.setCell(colPrice, row, QByteArrayLiteral("0"));
        Table.setStoredPrice(row, QByteArrayLiteral("0"));
    } else if (!priceInRange(v)) {
        dialogs().beep();
        Table.setCell(colPrice, row, zeroText());
        Table.setStoredPrice(row, zeroText());
    } else {
        Table.setCell(colPrice, row, priceText(v));
        followStore(row, accepted, v);
    }
    if (PendingRow == row)
        PendingRow = 0;
    emit editAccepted();
}

bool Workbook::EndEdit()
{
    return PendingRow == 0 || SelectCell(colPrice, PendingRow);
}

// ---------------------------------------------------------------- files

QString Workbook::WindowTitle() const
{
    return QStringLiteral("Varlo Manager~[") + CurrentFileName + QLatin1Char(']');
}

void Workbook::SavePluFile(const QString& fileName)
{
    BusyCursor busy(this);
    QByteArray data;
    data.reserve(PluCount * 32);
    for (int r = 1; r <= PluCount; ++r)
        data += PluFileLine(Table.cell(colPrice, r), Table.cell(colName, r), Table.cell(colUnit, r));
    WriteFileAtomically(fileName, data);   // throws: old file whole, Modified as it was
    Modified = false;
    emit saved();
}

void Workbook::LoadPluFile(const QString& fileName)
{
    CurrentFileName = QFileInfo(fileName).absoluteFilePath();
    BusyCursor busy(this);
    for (int r = 1; r <= PluCount; ++r)
        Table.PluRecords[r] = TPluRecord();
    LastLoadCheck = {};
    const QByteArray data = ReadPluFileBytes(CurrentFileName);
    LastLoadCheck = CheckPluFile(data, Options.PriceDecimal, Options.PriceMax);

    const QList<QByteArray> lines = SplitPluLines(data, PluCount);
    for (int k = 1; k <= lines.size(); ++k) {
        const PluFields fields = SplitPluFields(lines[k - 1]);
        TPluRecord& rec = Table.PluRecords[k];
        double price = 0;
        rec.Price = toPrice(fields.Price, &price) ? price : 0;
        rec.Name = fields.Name;
        if (!trimBlanks(fields.Unit).isEmpty()) {
            rec.UnitText = fields.Unit;
            rec.UnitIndex = UnitListIndex(fields.Unit);
        }
    }
    ShowRecords();
    Modified = false;
    emit tableLoaded();
    emit titleChanged(WindowTitle());
}

bool Workbook::QuerySave()
{
    if (!Modified)
        return true;
    switch (dialogs().messageBox(MessageTexts[mtSave], QStringLiteral("Warning"), MsgIcon::Warning,
                                 MsgButtons::YesNoCancel)) {
    case MsgResult::Yes:
        // A failed save throws and ends the asking command. Cancelling the
        // save dialog saved nothing: going on would throw the unsaved table
        // away although the operator asked to keep it, so it counts as Cancel.
        return SaveItemClick();
    case MsgResult::No:
        return true;
    default:
        return false;
    }
}

void Workbook::NewItemClick()
{
    if (QuerySave())
        ResetTable();
    emit memoCleared();
}

void Workbook::OpenItemClick()
{
    if (!QuerySave())
        return;
    QString path;
    if (!dialogs().openFileName(&path))
        return;
    OpenChosenFile(path);
}

void Workbook::OpenChosenFile(const QString& path)
{
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    QString notPluFile;
    try {
        notPluFile = CheckPluFile(ReadPluFileBytes(fullPath), Options.PriceDecimal, Options.PriceMax).NotPluFile;
    } catch (const AppError&) {
        // The load below reports it, leaving the table as a failed load does.
    }
    if (!notPluFile.isEmpty())
        throw EInOutError(QStringLiteral("\"%1\" is not a PLU file: %2.").arg(fullPath, notPluFile),
                          QStringLiteral("Nothing was loaded; the table is as it was."));
    ResetTable();
    LoadPluFile(path);
    if (LastLoadCheck.ResetRows.isEmpty())
        return;
    constexpr int shownRows = 20;   // a taller box would not fit the screen
    dialogs().messageBox(QStringLiteral("%1 prices in \"%2\" cannot be read and were set to 0:\n")
                                 .arg(LastLoadCheck.ResetRows.size())
                                 .arg(CurrentFileName)
                             + LastLoadCheck.rowsText(shownRows)
                             + QStringLiteral("\nCorrect these prices before the next download."),
                         QStringLiteral("Warning"), MsgIcon::Warning, MsgButtons::Ok);
}

bool Workbook::SaveItemClick()
{
    if (CurrentFileName.isEmpty())
        return SaveasItemClick();
    SavePluFile(CurrentFileName);
    return true;
}

bool Workbook::SaveasItemClick()
{
    QString path;
    if (!dialogs().saveFileName(&path))
        return false;
    CurrentFileName = QFileInfo(path).absoluteFilePath();
    SavePluFile(CurrentFileName);
    emit titleChanged(WindowTitle());
    return true;
}

// ---------------------------------------------------------------- price decimal modes

bool Workbook::PriceDecimalCommand(int modeIndex)
{
    if (modeIndex < 0 || modeIndex >= int(std::size(PriceModes)))
        return false;
    const PriceModeRow& mode = PriceModes[modeIndex];
    double stored[PluCount + 1] = {};
    for (int r = 1; r <= PluCount; ++r) {
        if (!toPrice(Table.storedPrice(r), &stored[r]))
            stored[r] = 0;   // a text that does not convert shows as zero
    }
    // All or nothing: a price the new mode cannot hold keeps the old mode.
    // The stored text is named: the cell may show it rounded into range.
    for (int r = 1; r <= PluCount; ++r) {
        if (stored[r] < 0 || stored[r] > mode.Max) {
            showRangeMessage(rangeMessage(mode.Decimals, mode.Max) + QLatin1Char('\n') + QString::fromLatin1(PluKeyLabel(r)) +
                             QStringLiteral(": ") + QString::fromLatin1(Table.storedPrice(r).trimmed()));
            return false;
        }
    }
    ApplyPriceMode(mode, Options);
    PriceFormat = mode.Format;
    Options.SaveOptions(ConfigFileName);   // EIniError: the table stays as it was
    for (int r = 1; r <= PluCount; ++r)
        Table.setCell(colPrice, r, priceText(stored[r]));
    return true;
}

bool Workbook::AdoptScalePriceMode(uint8_t code)
{
    const PriceModeRow* mode = FindPriceMode(code);
    if (!mode)
        return false;
    ApplyPriceMode(*mode, Options);
    PriceFormat = mode->Format;
    Options.SaveOptions(ConfigFileName);
    return true;
}
