#pragma once
#include "inioptions.h"
#include "plufile.h"
#include "plutable.h"
#include <QObject>
#include <QString>
#include <functional>

// The PLU workbook: the state and the logic of the main window that need no
// display. The form forwards grid events and menu commands here; the scale
// commands read and write the table through it.
class Workbook : public QObject {
    Q_OBJECT
public:
    explicit Workbook(TIniOptions& options, QObject* parent = nullptr);

    TIniOptions& Options;
    PluTable Table;
    QByteArray PriceFormat;
    QString ConfigFileName;        // ExeDir() + "config.ini"
    QString CurrentFileName;
    bool Modified = false;
    bool PriceTyped = false;

    // ---- start-up
    // ConfigFileName, PriceMaxText, LoadOptions, PriceFormat, ResetTable.
    void Initialise();

    // ---- table
    void ResetTable();
    void ShowRecords();

    // ---- editing rules. The view passes what the grid knows.
    // Key filter: true when the key passes. `editorText` is the text in the
    // cell editor (or the cell when no editor is open), `editorHasSelection`
    // whether the editor's selection end is after its start.
    bool KeyPress(int col, int row, QChar key, const QByteArray& editorText, bool editorHasSelection);
    bool PriceKeyAllowed(QChar key, int row, const QByteArray& editorText, bool editorHasSelection) const;
    // The editor's text changed (the cell already holds `text`). A price
    // reaches the price store with every change, typed, pasted or deleted.
    void SetEditText(int col, int row, const QByteArray& text);
    // Editing of a cell begins.
    void GetEditText(int col, int row);
    // Leaving cell (col,row) for another: false refuses the move (the range
    // message has been shown).
    bool SelectCell(int col, int row);
    // The grid loses the focus while (col,row) is current.
    void ExitGrid(int col, int row);
    // The price row whose editing began and whose text has not passed the
    // check of leaving it since; 0 when there is none.
    int PendingPriceRow() const { return PendingRow; }
    // Before a command reads the table: the check of leaving the pending
    // price cell. False: refused, the range message has been shown and the
    // command must not run.
    bool EndEdit();
    // The range message: entry 31 + PriceFormat of the limit.
    QString RangeMessage() const;

    // ---- files (throw AppError / EInOutError on failure)
    void SavePluFile(const QString& fileName);
    // Loads whatever the file holds, as the file format prescribes (prices
    // that cannot be taken become 0); LastLoadCheck says what was found.
    void LoadPluFile(const QString& fileName);
    PluFileCheck LastLoadCheck;
    bool QuerySave();
    void NewItemClick();
    // A file that is no PLU file is refused and the table stays as it was;
    // prices reset by the load are listed once in a warning.
    void OpenItemClick();
    // "&Open..." once the file is chosen.
    void OpenChosenFile(const QString& path);
    // False when the operator cancelled the save dialog (nothing saved).
    bool SaveItemClick();
    bool SaveasItemClick();
    QString WindowTitle() const;   // "Varlo Manager~[" + CurrentFileName + "]"

    // ---- price decimal modes
    // Menu order: 0 "(0)", 1 "(1)", 2 "(2+No)", 3 "(2+Yes)", 4 "(3+NO)", 5 "(3+Yes)".
    // False, with mode and table as they were, when a stored price does not
    // fit the new mode (the range message names its key).
    bool PriceDecimalCommand(int modeIndex);
    // A scale command took over price mode `code`: set the options and
    // PriceFormat and save config.ini; false (nothing changed) for codes
    // outside the table.
    bool AdoptScalePriceMode(uint8_t code);

signals:
    void titleChanged(const QString& title);   // after an open and a save-as
    void memoCleared();                        // "&New" empties Memo2
    void cursorBusy(bool busy);                // hourglass while reading/writing
    void editAccepted();                       // a cell was left or the grid exited: one undo step
    void tableLoaded();                        // a PLU file was read: the undo history starts anew
    void saved();                              // the table is what a file holds

private:
    int PendingRow = 0;
    bool toPrice(const QByteArray& text, double* v) const;
    // The store keeps an accepted price's own text (its typed decimals),
    // unless it no longer holds that value.
    void followStore(int row, const QByteArray& accepted, double v);
    bool priceInRange(double v) const;
    QByteArray priceText(double v) const;
    QByteArray zeroText() const;
};

// ExeDir() + "Record.txt".
QString RecordFileName();
// Start-up: when Record.txt does not exist, create it with its GBK header
// line (weight, unit weight, quantity). An existing file is left alone.
// Throws EInOutError when it cannot be created.
void CreateRecordFile();
