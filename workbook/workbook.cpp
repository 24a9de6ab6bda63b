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
    if (col == colPrice && PriceTyped) {
        PriceTyped = false;
        Table.setStoredPrice(row, text);
    }
}

void Workbook::GetEditText(int /*col*/, int /*row*/) { Modified = true; }

QString Workbook::RangeMessage() const
{
    // Entry 31 is plain text: a '%' from a language file stays a '%'.
    const double limit = Options.PriceDecimal == 0 ? WholePriceLimit : Options.PriceMax;
    return MessageTexts[mtRange] + QString::fromLatin1(priceText(limit));
}

bool Workbook::SelectCell(int col, int row)
{
    if (col != colPrice) {
        emit editAccepted();
        return true;
    }
    double v = 0;
    if (!toPrice(Table.cell(colPrice, row), &v) || !priceInRange(v)) {
        dialogs().messageBox(RangeMessage(), QStringLiteral("Error"), MsgIcon::Error, MsgButtons::Ok);
        return false;
    }
    const QByteArray text = priceText(v);
    Table.setCell(colPrice, row, text);
    if (PriceTyped) {
        PriceTyped = false;
        Table.setStoredPrice(row, text);
    }
    emit editAccepted();
    return true;
}

void Workbook::ExitGrid(int col, int row)
{
    if (col != colPrice) {
        emit editAccepted();
        return;
    }
    double v = 0;
    if (!toPrice(Table.cell(colPrice, row), &v)) {
        dialogs().beep();
        Table.setCell(colPrice, row, QByteArrayLiteral("0"));
    } else if (!priceInRange(v)) {
        dialogs().beep();
        Table.setCell(colPrice, row, zeroText());
    } else {
        Table.setCell(colPrice, row, priceText(v));
    }
    emit editAccepted();
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

    QFile f(CurrentFileName);
    if (!f.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file \"%1\".").arg(CurrentFileName), f.errorString());
    // Only the first 77 lines count: read no further than the start of the
    // 78th, so a huge file (or a device such as /dev/zero) cannot exhaust
    // memory. A file without 77 lines in its first 16 MiB is no PLU file.
    constexpr qint64 chunkSize = 64 * 1024;
    constexpr qint64 maxBytes = 16 * 1024 * 1024;
    QByteArray data;
    int lineEnds = 0;
    for (;;) {
        const QByteArray chunk = f.read(chunkSize);
        if (f.error() != QFileDevice::NoError)
            throw EInOutError(QStringLiteral("Cannot read file \"%1\".").arg(CurrentFileName), f.errorString());
        if (chunk.isEmpty())
            break;
        data += chunk;
        lineEnds += int(chunk.count('\n') + chunk.count('\r'));
        if (lineEnds >= PluCount && SplitPluLines(data, PluCount + 1).size() > PluCount)
            break;
        if (data.size() >= maxBytes)
            throw EInOutError(QStringLiteral("Cannot read file \"%1\".").arg(CurrentFileName),
                              QStringLiteral("not a PLU file: no 77 lines in its first 16 MiB"));
    }
    f.close();

    const QList<QByteArray> lines = SplitPluLines(data, PluCount);
    for (int k = 1; k <= lines.size(); ++k) {
        const PluFields fields = SplitPluFields(lines[k - 1]);
        TPluRecord& rec = Table.PluRecords[k];
        double price = 0;
        rec.Price = toPrice(fields.Price, &price) ? price : 0;
        rec.Name = fields.Name;
        if (!TrimBlanks(fields.Unit).isEmpty()) {
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
    ResetTable();
    LoadPluFile(path);
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

void Workbook::PriceDecimalCommand(int modeIndex)
{
    if (modeIndex < 0 || modeIndex >= int(std::size(PriceModes)))
        return;
    const PriceModeRow& mode = PriceModes[modeIndex];
    ApplyPriceMode(mode, Options);
    PriceFormat = mode.Format;
    Options.SaveOptions(ConfigFileName);   // EIniError: the table stays as it was

    for (int r = 1; r <= PluCount; ++r) {
        double v = 0;
        if (!toPrice(Table.storedPrice(r), &v))
            v = 0;
        if (!priceInRange(v)) {
            dialogs().beep();
            Table.setCell(colPrice, r, zeroText());
            break;
        }
        Table.setCell(colPrice, r, priceText(v));
    }
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
