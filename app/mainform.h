#pragma once
#include "linksettings.h"
#include "reprice.h"
#include "workbook.h"
#include <QDialog>
#include <QFont>
#include <QMainWindow>
#include <memory>

class QAction;
class PrintDevice;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTableWidget;
class QVBoxLayout;
class QToolButton;
class PluGridModel;
class PluGridView;
class ScaleCommands;
struct CommandOutcome;
class TableHistory;
class TitleHeader;
struct CsvImport;
class TKYRBusComm;
class TProgressForm;
class TVemraencode;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

private:
    void AddFilesRow(QVBoxLayout* layout);
};

// The whole user interface: every operator command is one handler here; the
// handlers forward to the workbook, the link and the scale commands.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Created after the main window, as at program start.
    void SetSecondaryForms(TProgressForm* progress, TAboutBox* about);

    Workbook Wb;
    LinkSettings Link;
    TKYRBusComm* KYRBusComm1 = nullptr;
    std::unique_ptr<TVemraencode> Codec;
    std::unique_ptr<ScaleCommands> Commands;
    TProgressForm* ProgressForm = nullptr;
    TAboutBox* AboutBox = nullptr;

    // Components, named as their language-file keys.
    PluGridView* StringGrid1;
    PluGridModel* GridModel;
    TitleHeader* GridHeader;
    // The sale report grid stays hidden; it is made when a report first
    // fills it, so that start-up does not pay for a grid nobody sees.
    QTableWidget* StringGrid2 = nullptr;
    QWidget* Panel2 = nullptr;
    QPlainTextEdit* Memo2;
    QToolButton* PriceTitleButton;
    QMenu* pm2;
    QMenu* PopupMenu1;
    QMenu* PopupMenu2;
    QToolButton *NewBtn, *OpenBtn, *SaveBtn, *DownBtn, *UploadBtn, *ReportBtn, *CommBtn,
        *BaudRateBtn, *ToolbarButton972, *ToolbarButton973, *ExitBtn;
    QAction *NewItem, *OpenItem, *SaveItem, *SaveasItem, *Print1, *Printkeysheet1, *ExitItem;
    QAction *DownloadItem, *UploadItem, *ReportItem, *Salereport1;
    QAction *Chinese1, *English1, *Spanish1, *AboutItem, *Contents1;
    QMenu* LanguageMenu;
    QAction* Pricedecimal[6];
    // Prices from and to spreadsheets, bulk changes, undo.
    QAction *ExportCsvItem, *ImportCsvItem, *UndoItem, *RedoItem, *ChangePricesItem;
    QMenu* EditMenu;
    // Compare, verify, backup and restore (safetymenu.cpp).
    QAction *CompareItem, *VerifyItem, *BackupItem, *RestoreBackupItem;
    TableHistory* History = nullptr;

    // One printer for the whole run: the key sheet's switch to landscape stays.
    std::unique_ptr<PrintDevice> Printer;
    QFont FontDialog1Font;

    // Handlers.
    void NewItemClick();
    void OpenItemClick();
    void SaveItemClick();
    void SaveasItemClick();
    void Print1Click();
    void Printkeysheet1Click();
    void ExitItemClick();
    void AboutItemClick();
    void DownloadItemClick();
    void UploadItemClick();
    void ReportItemClick();
    void Salereport1Click();
    void LanguageClick(QAction* chosen);
    void COM1ItemClick(int tag);
    void BaudRate2Click(int tag);
    void ToolbarButton972Click();
    void ToolbarButton973Click();
    void UpdatePortButtons(bool portClosed);
    void PriceDecimalClick(int modeIndex);
    void ExportCsvClick();
    void ImportCsvClick();
    void ChangePricesClick();
    void UndoClick();
    void RedoClick();
    void CompareItemClick();
    void VerifyItemClick();
    void BackupItemClick();
    void RestoreBackupItemClick();
    // The merge of a CSV file into the table, as one undo step; a refused
    // import changes nothing. Throws EInOutError when the file cannot be read.
    CsvImport ImportCsvFile(const QString& path, int* changed);
    void ApplyPriceChange(const RepricePlan& plan);
    void LoadLanguage();
    void ApplyStartupLayout();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;   // FormCloseQuery

private:
    void FormCreate();
    void ShowSettingsProblems();
    void FormShow();
    void BuildMenus();
    void buildPopupMenus();
    void BuildToolbar();
    void BuildClientArea();
    void RunGuarded(const std::function<void()>& command);
    // Ends the open edit, asks for a CSV file to save or open, runs `command`
    // on it guarded.
    void runWithCsvFile(bool save, const std::function<void(const QString&)>& command);
    // A command that reads the table: only when the price being edited
    // passes the check of leaving its cell.
    void RunOnTable(const std::function<void()>& command);
    // A command that changes the table: the open cell edit ends first (a
    // refused cell stops it), and the change becomes one undo step.
    void RunTableCommand(const QString& label, const std::function<void()>& command);
    void BuildEditMenu();
    void BuildSafetyItems(QMenu* file, QAction* fileAfter, QMenu* comm);
    // The download's nets from config.ini [Options], in the menu and the commands.
    void LoadSafetyOptions();
    void SaveSafetyOption(QAction* item, void (*save)(const QString&, bool),
                          bool ScaleCommands::*setting);
    void UpdateEditItems();
    // A scale command, only while the link is open.
    void RunScaleCommand(CommandOutcome (ScaleCommands::*command)());
    PrintDevice& printDevice();
    void RefreshReportGrid();
    bool Shown = false;
    bool PortOpen = false;   // the scale commands are enabled
    QMetaObject::Connection FocusWatch;
    bool CreateCompleted = false;
};
