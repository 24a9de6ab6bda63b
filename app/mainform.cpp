#include "mainform.h"
#include "portselectform.h"
#include "codepage.h"
#include "dialogs.h"
#include "errors.h"
#include "exedir.h"
#include "kyrbuscomm.h"
#include "language.h"
#include "messagetexts.h"
#include "plugrid.h"
#include "pricecsv.h"
#include "pricedialogs.h"
#include "tablehistory.h"
#include "atomicfile.h"
#include "printing.h"
#include "printloader.h"
#include "progressform.h"
#include "scalecommands.h"
#include "vemraencode.h"
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QToolBar>
#include <QToolButton>
#include <QHash>
#include <QVBoxLayout>

namespace {
// One 16-pixel picture of the style's, rather than the whole icon set: the
// set decodes every size at start-up.
QIcon smallIcon(QStyle* style, QStyle::StandardPixmap which)
{
    return QIcon(style->standardPixmap(which, nullptr, nullptr));
}

// Courier New where it is installed, otherwise the monospaced face Qt falls
// back to on a system without it. Naming a family that is there spares each
// start the search for a substitute (fontconfig sorting every font twice).
QString GridFamily()
{
    const QStringList installed = QFontDatabase::families();
    for (const char* name : {"Courier New", "DejaVu Sans Mono", "Liberation Mono", "Noto Mono"})
        if (installed.contains(QLatin1String(name), Qt::CaseInsensitive))
            return QLatin1String(name);
    return QStringLiteral("Courier New");
}

QToolButton* toolButton(QToolBar* bar, const char* name, const QIcon& icon, const QString& hint)
{
    auto* b = new QToolButton(bar);
    b->setObjectName(QString::fromLatin1(name));
    b->setIcon(icon);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    bar->addWidget(b);
    return b;
}

QAction* menuItem(QMenu* menu, QObject* owner, const char* name, const QString& caption,
                  const QString& hint = {}, const QKeySequence& key = {})
{
    auto* a = new QAction(caption, owner);
    a->setObjectName(QString::fromLatin1(name));
    if (!hint.isEmpty()) {
        a->setToolTip(hint);
        a->setStatusTip(hint);
    }
    if (!key.isEmpty())
        a->setShortcut(key);
    menu->addAction(a);
    return a;
}
} // namespace

// ------------------------------------------------------------------ about

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("AboutBox");
    setWindowTitle("About");
    auto* layout = new QVBoxLayout(this);
    auto* product = new QLabel("Varlo manager 9600", this);
    product->setObjectName("ProductName");
    auto* version = new QLabel("Version 1.002", this);
    version->setObjectName("Version");
    for (QLabel* l : {product, version}) {
        l->setAlignment(Qt::AlignCenter);
        layout->addWidget(l);
    }
    AddFilesRow(layout);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignCenter);
    setFixedSize(qMax(298, sizeHint().width()), qMax(160, sizeHint().height()));
}

// Where the shop's settings, logs and reports are, and a way to get there
// (to back them up or move them). The path label has no name, so that no
// language file replaces it.
void TAboutBox::AddFilesRow(QVBoxLayout* layout)
{
    auto* files = new QLabel(QStringLiteral("Files: ") + ExeDir(), this);
    files->setAlignment(Qt::AlignCenter);
    files->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(files);
    auto* open = new QPushButton(QStringLiteral("Open folder"), this);
    open->setObjectName("OpenFolderButton");
    open->setAutoDefault(false);
    connect(open, &QPushButton::clicked, this, [] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(ExeDir())))
            dialogs().errorBox(QStringLiteral("Cannot open the folder %1\nNo file manager could "
                                              "show it; open it yourself.").arg(ExeDir()));
    });
    layout->addWidget(open, 0, Qt::AlignCenter);
}

// ------------------------------------------------------------------ main form

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), Wb(*IniOptions)
{
    setObjectName("MainForm");
    setWindowTitle("Qv8 Manager");
    resize(899, 486);
    KYRBusComm1 = new TKYRBusComm(this);
    KYRBusComm1->setObjectName("KYRBusComm1");
    KYRBusComm1->SetBaudRate(9600);
    FontDialog1Font = KeySheetDesignFont();
    BuildMenus();
    BuildToolbar();
    BuildClientArea();
    FormCreate();
}

TMainForm::~TMainForm()
{
    // Qt hides and closes the widgets only after this object's members are
    // gone; an open cell editor would commit into the destroyed table then.
    disconnect(FocusWatch);
    delete takeCentralWidget();
}

void TMainForm::BuildMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("File1");
    NewItem = menuItem(file, this, "NewItem", "&New", "New");
    OpenItem = menuItem(file, this, "OpenItem", "&Open...", "Open", QKeySequence(Qt::Key_F3));
    SaveItem = menuItem(file, this, "SaveItem", "&Save", "Save", QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveasItem = menuItem(file, this, "SaveasItem", "Save &as...");
    file->addSeparator();
    ExportCsvItem = menuItem(file, this, "ExportCsvItem", "Export CSV...", "Export the prices to a CSV file");
    ImportCsvItem = menuItem(file, this, "ImportCsvItem", "Import CSV...", "Merge prices from a CSV file");
    file->addSeparator()->setObjectName("N1");
    Print1 = menuItem(file, this, "Print1", "Print...");
    Printkeysheet1 = menuItem(file, this, "Printkeysheet1", "&Print key sheet");
    file->addSeparator()->setObjectName("N2");
    ExitItem = menuItem(file, this, "ExitItem", "E&xit", "Exit");

    BuildEditMenu();

    QMenu* comm = menuBar()->addMenu("&Communication");
    comm->setObjectName("Communication1");
    DownloadItem = menuItem(comm, this, "DownloadItem", "&Download PLU", "Download PLU", QKeySequence(Qt::Key_F9));
    UploadItem = menuItem(comm, this, "UploadItem", "&Upload PLU", "Upload PLU", QKeySequence(Qt::Key_F8));
    ReportItem = menuItem(comm, this, "ReportItem", "&Sale report", "Sale report");
    // F8 belongs to "&Upload PLU", which comes first; "Get AllValue" is
    // reached through its menu entry only.
    Salereport1 = menuItem(comm, this, "Salereport1", "Get AllValue");
    BuildSafetyItems(file, SaveasItem, comm);

    LanguageMenu = menuBar()->addMenu("Language");
    LanguageMenu->setObjectName("Language1");
    Chinese1 = menuItem(LanguageMenu, this, "Chinese1", "Chinese");
    English1 = menuItem(LanguageMenu, this, "English1", "English");
    Spanish1 = menuItem(LanguageMenu, this, "Spanish1", "Spanish");
    for (QAction* a : {Chinese1, English1, Spanish1}) {
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, a] { LanguageClick(a); });
    }
    LanguageMenu->menuAction()->setVisible(false);

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("Help1");
    Contents1 = menuItem(help, this, "Contents1", "&Contents");
    Contents1->setVisible(false);
    QAction* sep = help->addSeparator();
    sep->setObjectName("N3");
    sep->setVisible(false);
    AboutItem = menuItem(help, this, "AboutItem", "&About...");

    connect(NewItem, &QAction::triggered, this, &TMainForm::NewItemClick);
    connect(OpenItem, &QAction::triggered, this, &TMainForm::OpenItemClick);
    connect(SaveItem, &QAction::triggered, this, &TMainForm::SaveItemClick);
    connect(SaveasItem, &QAction::triggered, this, &TMainForm::SaveasItemClick);
    connect(Print1, &QAction::triggered, this, &TMainForm::Print1Click);
    connect(Printkeysheet1, &QAction::triggered, this, &TMainForm::Printkeysheet1Click);
    connect(ExitItem, &QAction::triggered, this, &TMainForm::ExitItemClick);
    connect(DownloadItem, &QAction::triggered, this, &TMainForm::DownloadItemClick);
    connect(UploadItem, &QAction::triggered, this, &TMainForm::UploadItemClick);
    connect(ReportItem, &QAction::triggered, this, &TMainForm::ReportItemClick);
    connect(Salereport1, &QAction::triggered, this, &TMainForm::Salereport1Click);
    connect(AboutItem, &QAction::triggered, this, &TMainForm::AboutItemClick);
    connect(ExportCsvItem, &QAction::triggered, this, &TMainForm::ExportCsvClick);
    connect(ImportCsvItem, &QAction::triggered, this, &TMainForm::ImportCsvClick);

    // A hidden menu entry keeps its shortcut: F7 runs the sale report while
    // the link is open.
    auto* f7 = new QShortcut(QKeySequence(Qt::Key_F7), this);
    connect(f7, &QShortcut::activated, this, &TMainForm::ReportItemClick);
    buildPopupMenus();
}

// The price decimal modes, the ports and the speeds under their buttons.
void TMainForm::buildPopupMenus()
{
    pm2 = new QMenu(this);
    pm2->setObjectName("pm2");
    const char* names[6] = {"Pricedecimal11", "Pricedecimal01", "Pricedecimal2No1",
                            "Pricedecimal21", "Pricedecimal3NO1", "Pricedecimal3Yes1"};
    const char* captions[6] = {"Price decimal (0)", "Price decimal (1)", "Price decimal (2+No)",
                               "Price decimal (2+Yes)", "Price decimal (3+NO)", "Price decimal (3+Yes)"};
    for (int i = 0; i < 6; ++i) {
        Pricedecimal[i] = menuItem(pm2, this, names[i], QString::fromLatin1(captions[i]));
        connect(Pricedecimal[i], &QAction::triggered, this, [this, i] { PriceDecimalClick(i); });
    }

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    for (int n = 1; n <= 4; ++n) {
        const QByteArray name = "COM" + QByteArray::number(n) + "Item";
        QAction* a = menuItem(PopupMenu1, this, name.constData(), QStringLiteral("COM%1").arg(n));
        connect(a, &QAction::triggered, this, [this, n] { COM1ItemClick(n); });
    }
    PopupMenu1->addSeparator();
    QAction* selectPort = menuItem(PopupMenu1, this, "SelectPortItem", "Select port...");
    connect(selectPort, &QAction::triggered, this, [this] {
        RunGuarded([&] { SelectPortFor(Link.PortNumber, this); });
    });
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName("PopupMenu2");
    QAction* b1 = menuItem(PopupMenu2, this, "BaudRate1", "2400bps");
    QAction* b2 = menuItem(PopupMenu2, this, "BaudRate2", "9600bps");
    connect(b1, &QAction::triggered, this, [this] { BaudRate2Click(2400); });
    connect(b2, &QAction::triggered, this, [this] { BaudRate2Click(9600); });
}

void TMainForm::BuildEditMenu()
{
    EditMenu = menuBar()->addMenu("&Edit");
    EditMenu->setObjectName("EditMenu");
    UndoItem = menuItem(EditMenu, this, "UndoItem", "&Undo", "Undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
    RedoItem = menuItem(EditMenu, this, "RedoItem", "&Redo", "Redo", QKeySequence(Qt::CTRL | Qt::Key_Y));
    EditMenu->addSeparator();
    ChangePricesItem = menuItem(EditMenu, this, "ChangePricesItem", "Change &prices...",
                                "Raise or lower many prices at once");
    connect(UndoItem, &QAction::triggered, this, &TMainForm::UndoClick);
    connect(RedoItem, &QAction::triggered, this, &TMainForm::RedoClick);
    connect(ChangePricesItem, &QAction::triggered, this, &TMainForm::ChangePricesClick);
}

void TMainForm::BuildToolbar()
{
    auto* bar = addToolBar("MainToolbar");
    bar->setObjectName("MainToolbar");
    bar->setMovable(false);
    QStyle* s = style();
    NewBtn = toolButton(bar, "NewBtn", smallIcon(s, QStyle::SP_FileIcon), "New");
    OpenBtn = toolButton(bar, "OpenBtn", smallIcon(s, QStyle::SP_DialogOpenButton), "Open");
    SaveBtn = toolButton(bar, "SaveBtn", smallIcon(s, QStyle::SP_DialogSaveButton), "Save");
    bar->addSeparator();
    DownBtn = toolButton(bar, "DownBtn", smallIcon(s, QStyle::SP_ArrowDown), "Download PLU");
    UploadBtn = toolButton(bar, "UploadBtn", smallIcon(s, QStyle::SP_ArrowUp), "Upload PLU");
    ReportBtn = toolButton(bar, "ReportBtn", smallIcon(s, QStyle::SP_FileDialogDetailedView), "Sale report");
    bar->actions().last()->setVisible(false);   // ReportBtn: not visible in the design

    CommBtn = new QToolButton(bar);
    CommBtn->setObjectName("CommBtn");
    CommBtn->setPopupMode(QToolButton::MenuButtonPopup);
    CommBtn->setMenu(PopupMenu1);
    CommBtn->setFixedWidth(60);
    CommBtn->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(CommBtn, &QToolButton::clicked, CommBtn, &QToolButton::showMenu);
    bar->addWidget(CommBtn);

    BaudRateBtn = new QToolButton(bar);
    BaudRateBtn->setObjectName("BaudRateBtn");
    BaudRateBtn->setPopupMode(QToolButton::MenuButtonPopup);
    BaudRateBtn->setMenu(PopupMenu2);
    BaudRateBtn->setFixedWidth(63 + 20);
    BaudRateBtn->setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(BaudRateBtn, &QToolButton::clicked, BaudRateBtn, &QToolButton::showMenu);
    bar->addWidget(BaudRateBtn);

    ToolbarButton972 = new QToolButton(bar);
    ToolbarButton972->setObjectName("ToolbarButton972");
    ToolbarButton972->setText("OpenPort");
    bar->addWidget(ToolbarButton972);
    ToolbarButton973 = new QToolButton(bar);
    ToolbarButton973->setObjectName("ToolbarButton973");
    ToolbarButton973->setText("ClosePort");
    bar->addWidget(ToolbarButton973);
    ExitBtn = toolButton(bar, "ExitBtn", smallIcon(s, QStyle::SP_DialogCloseButton), "Exit");
    bar->addSeparator();

    connect(NewBtn, &QToolButton::clicked, this, &TMainForm::NewItemClick);
    connect(OpenBtn, &QToolButton::clicked, this, &TMainForm::OpenItemClick);
    connect(SaveBtn, &QToolButton::clicked, this, &TMainForm::SaveItemClick);
    connect(DownBtn, &QToolButton::clicked, this, &TMainForm::DownloadItemClick);
    connect(UploadBtn, &QToolButton::clicked, this, &TMainForm::UploadItemClick);
    connect(ReportBtn, &QToolButton::clicked, this, &TMainForm::ReportItemClick);
    connect(ToolbarButton972, &QToolButton::clicked, this, &TMainForm::ToolbarButton972Click);
    connect(ToolbarButton973, &QToolButton::clicked, this, &TMainForm::ToolbarButton973Click);
    connect(ExitBtn, &QToolButton::clicked, this, &TMainForm::ExitItemClick);
}

void TMainForm::BuildClientArea()
{
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName("Splitter1");

    StringGrid1 = new PluGridView(Wb, splitter);
    StringGrid1->setObjectName("StringGrid1");
    GridModel = new PluGridModel(Wb, StringGrid1);
    GridHeader = new TitleHeader([](int c) { return MessageTexts[c]; }, StringGrid1);
    StringGrid1->setHorizontalHeader(GridHeader);
    // Hidden and given its font before the model arrives: a visible row
    // header would measure all 77 rows in a bold face it never paints.
    StringGrid1->verticalHeader()->hide();
    QFont gridFont;
    gridFont.setFamily(GridFamily());
    gridFont.setStyleHint(QFont::TypeWriter);
    gridFont.setHintingPreference(QFont::PreferNoHinting);
    gridFont.setPixelSize(14);
    StringGrid1->setFont(gridFont);
    StringGrid1->setModel(GridModel);
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultSectionSize(19);
    const int widths[4] = {120, 167, 127, 120};
    for (int c = 0; c < 4; ++c)
        StringGrid1->setColumnWidth(c, widths[c]);
    GridHeader->setFixedHeight(19);

    PriceTitleButton = new QToolButton(GridHeader->viewport());
    PriceTitleButton->setObjectName("PriceTitleButton");
    PriceTitleButton->setAutoRaise(true);
    PriceTitleButton->setAutoFillBackground(true);   // covers the painted title
    PriceTitleButton->setFont(GridHeader->font());
    {
        QPalette p = PriceTitleButton->palette();
        p.setColor(QPalette::ButtonText, QColor(0, 0, 128));
        PriceTitleButton->setPalette(p);
    }
    PriceTitleButton->setPopupMode(QToolButton::MenuButtonPopup);
    PriceTitleButton->setMenu(pm2);
    PriceTitleButton->setText(MessageTexts[mtPluTitlePrice]);
    PriceTitleButton->hide();
    connect(PriceTitleButton, &QToolButton::clicked, PriceTitleButton, &QToolButton::showMenu);
    GridHeader->OnPriceTitlePainted = [this](const QRect& r) {
        if (PriceTitleButton->geometry() != r || !PriceTitleButton->isVisible())
            QTimer::singleShot(0, this, [this, r] {
                PriceTitleButton->setGeometry(r);
                PriceTitleButton->show();
            });
    };

    auto* right = new QWidget(splitter);
    right->setObjectName("Panel2");
    Panel2 = right;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    Memo2 = new QPlainTextEdit(right);
    Memo2->setObjectName("Memo2");
    Memo2->setReadOnly(true);
    rightLayout->addWidget(Memo2);

    splitter->addWidget(StringGrid1);
    splitter->addWidget(right);
    splitter->setSizes({568, 899 - 568});
    setCentralWidget(splitter);

    statusBar()->setObjectName("StatusBar1");

    // StringGrid1Exit: the focus moves to another control of this window.
    FocusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        auto inGrid = [this](QWidget* w) { return w && (w == StringGrid1 || StringGrid1->isAncestorOf(w)); };
        if (inGrid(old) && now && !inGrid(now) && now->window() == this)
            StringGrid1->GridExit();
    });
}

void TMainForm::FormCreate()
{
    Wb.Initialise();
    Codec = std::make_unique<TVemraencode>();
    Link.Load();
    CommBtn->setText(Link.PortCaption());
    BaudRateBtn->setText(Link.BaudCaption());
    KYRBusComm1->SetBaudRate(Link.BaudRateValue);
    KYRBusComm1->TraceEnabled = -1;
    ShowSettingsProblems();

    connect(&Wb, &Workbook::titleChanged, this, [this](const QString& t) { setWindowTitle(t); });
    connect(&Wb, &Workbook::memoCleared, this, [this] { Memo2->clear(); });
    connect(&Wb, &Workbook::cursorBusy, this, [](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });

    History = new TableHistory(Wb, this);
    connect(&Wb, &Workbook::editAccepted, this, [this] { History->Commit(tr("Edit")); });
    connect(&Wb, &Workbook::tableLoaded, History, &TableHistory::Clear);
    connect(&Wb, &Workbook::saved, History, &TableHistory::Saved);
    connect(History, &TableHistory::changed, this, &TMainForm::UpdateEditItems);
    UpdateEditItems();

    try {
        CreateRecordFile();
    } catch (const AppError& e) {
        // Start-up goes on: the link still starts closed below.
        dialogs().errorBox(e.fullText());
    }
    UpdatePortButtons(true);
    CreateCompleted = true;
}

// Settings that were not understood or contradict each other: the program
// runs on with what it says, and the files stay as they are.
void TMainForm::ShowSettingsProblems()
{
    QStringList notes = Link.Problems;
    if (!Wb.Options.ModeProblem.isEmpty())
        notes.prepend(Wb.Options.ModeProblem);
    if (!notes.isEmpty())
        dialogs().messageBox(notes.join("\n\n"), QStringLiteral("Warning"), MsgIcon::Warning, MsgButtons::Ok);
}

void TMainForm::SetSecondaryForms(TProgressForm* progress, TAboutBox* about)
{
    ProgressForm = progress;
    AboutBox = about;
    ProgressForm->OnCancel = [this] { KYRBusComm1->Cancel(); };
    ProgressForm->OnMainWindowEnabled = [this](bool enabled) {
        setEnabled(enabled);
        if (enabled)
            activateWindow();   // so the command keys work again at once
    };
    ProgressForm->OnBeep = [] { dialogs().beep(); };
    ProgressForm->SetOwnerWindow(this);
    Commands = std::make_unique<ScaleCommands>(*KYRBusComm1, *ProgressForm, Wb, *Codec);
    Commands->AppendMemoLine = [this](const QString& line) { Memo2->appendPlainText(line); };
    Commands->ReportGrid.OnChanged = [this] { RefreshReportGrid(); };
    LoadSafetyOptions();
    RefreshReportGrid();
}

void TMainForm::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!Shown) {
        Shown = true;
        FormShow();
    }
}

void TMainForm::FormShow()
{
    LoadLanguage();
    ApplyStartupLayout();
}

void TMainForm::LoadLanguage()
{
    QList<QObject*> forms{this};
    if (ProgressForm)
        forms.append(ProgressForm);
    if (AboutBox)
        forms.append(AboutBox);
    ::LoadLanguage(forms);
    GridModel->refreshTitles();
    GridHeader->viewport()->update();
    RefreshReportGrid();
}

void TMainForm::ApplyStartupLayout()
{
    if (StringGrid2)
        StringGrid2->hide();
    ReportItem->setVisible(false);
    for (int i : {0, 1, 2, 4, 5})
        Pricedecimal[i]->setVisible(false);
    Pricedecimal[3]->setVisible(true);
    Pricedecimal[3]->setText("Price decimal (2)");
    Printkeysheet1->setVisible(false);
    StringGrid1->setColumnHidden(colUnit, true);
}

void TMainForm::LanguageClick(QAction* chosen)
{
    for (QAction* a : {Chinese1, English1, Spanish1})
        a->setChecked(a == chosen);
    LoadLanguage();
}

void TMainForm::RunGuarded(const std::function<void()>& command)
{
    try {
        command();
    } catch (const AppError& e) {
        dialogs().errorBox(e.fullText());
    } catch (const std::exception& e) {
        dialogs().errorBox(QString::fromLocal8Bit(e.what()));
    }
}

void TMainForm::RunOnTable(const std::function<void()>& command)
{
    // A command started from a menu or a key leaves the cell editor open:
    // its text has passed none of the checks yet.
    if (StringGrid1->EndEdit())
        RunGuarded(command);
}

// ------------------------------------------------------------------ files

void TMainForm::RunTableCommand(const QString& label, const std::function<void()>& command)
{
    if (!StringGrid1->EndEdit())
        return;
    History->Commit(tr("Edit"));
    RunGuarded(command);
    History->Commit(label);
}

// "&New" and "&Open..." may save the table when asked to.
void TMainForm::NewItemClick() { RunTableCommand(tr("New"), [this] { Wb.NewItemClick(); }); }
void TMainForm::OpenItemClick() { RunTableCommand(tr("Open"), [this] { Wb.OpenItemClick(); }); }
void TMainForm::SaveItemClick() { RunTableCommand(tr("Edit"), [this] { Wb.SaveItemClick(); }); }
void TMainForm::SaveasItemClick() { RunTableCommand(tr("Edit"), [this] { Wb.SaveasItemClick(); }); }

void TMainForm::ExitItemClick() { close(); }

void TMainForm::closeEvent(QCloseEvent* e)
{
    if (ProgressForm && ProgressForm->isVisible()) {
        e->ignore();   // a scale command is running; it ends through its own dialog
        return;
    }
    bool mayClose = false;
    RunOnTable([&] { mayClose = Wb.QuerySave(); });
    if (mayClose)
        e->accept();
    else
        e->ignore();
}

void TMainForm::AboutItemClick()
{
    if (AboutBox)
        AboutBox->exec();
}

void TMainForm::PriceDecimalClick(int modeIndex)
{
    RunTableCommand(tr("Price decimal"), [&] { Wb.PriceDecimalCommand(modeIndex); });
}

// ------------------------------------------------------------------ CSV, bulk change, undo

void TMainForm::runWithCsvFile(bool save, const std::function<void(const QString&)>& command)
{
    RunOnTable([&] {
        QString path;
        if (dialogs().csvFileName(save, &path))
            command(path);
    });
}

void TMainForm::ExportCsvClick()
{
    runWithCsvFile(true, [this](const QString& path) {
        WriteFileAtomically(path, ExportPluCsv(Wb.Table, DefaultCsvSeparator()));
        statusBar()->showMessage(tr("%1 PLUs exported to %2").arg(PluCount).arg(path), 5000);
    });
}

CsvImport TMainForm::ImportCsvFile(const QString& path, int* changed)
{
    const CsvImport import = ReadPluCsv(ReadCsvFile(path), Wb);
    *changed = 0;
    if (import.ok()) {
        History->Commit(tr("Edit"));
        *changed = ApplyPluCsv(import, Wb);
        if (*changed > 0)
            Wb.Modified = true;
        History->Commit(tr("Import CSV"));
    }
    return import;
}

void TMainForm::ImportCsvClick()
{
    runWithCsvFile(false, [this](const QString& path) {
        int changed = 0;
        const CsvImport import = ImportCsvFile(path, &changed);
        if (!import.ok()) {
            ImportProblemsDialog(import, path, this).exec();
            return;
        }
        dialogs().messageBox(tr("%n row(s) changed.", nullptr, changed), tr("Import CSV"), MsgIcon::Information,
                             MsgButtons::Ok);
    });
}

void TMainForm::ApplyPriceChange(const RepricePlan& plan)
{
    if (!plan.ok() || plan.Changes.isEmpty())
        return;
    RunTableCommand(tr("Change prices"), [&] {
        ApplyReprice(Wb, plan);
        Wb.Modified = true;
    });
}

void TMainForm::ChangePricesClick()
{
    if (!StringGrid1->EndEdit())
        return;
    QList<int> rows;
    for (const QModelIndex& i : StringGrid1->selectionModel()->selectedIndexes())
        if (!rows.contains(i.row() + 1))
            rows << i.row() + 1;
    std::sort(rows.begin(), rows.end());
    RepriceDialog dialog(Wb, rows, this);
    if (dialog.exec() == QDialog::Accepted)
        ApplyPriceChange(dialog.Plan);
}

void TMainForm::UndoClick() { RunOnTable([this] { History->Undo(); }); }
void TMainForm::RedoClick() { RunOnTable([this] { History->Redo(); }); }

void TMainForm::UpdateEditItems()
{
    UndoItem->setEnabled(History->CanUndo());
    RedoItem->setEnabled(History->CanRedo());
    const QString undo = History->UndoText(), redo = History->RedoText();
    UndoItem->setText(undo.isEmpty() ? tr("&Undo") : tr("&Undo %1").arg(undo));
    RedoItem->setText(redo.isEmpty() ? tr("&Redo") : tr("&Redo %1").arg(redo));
}

// ------------------------------------------------------------------ printing

PrintDevice& TMainForm::printDevice()
{
    // Made on first use, with the print module: most runs never print.
    if (!Printer)
        Printer = LoadPrintDevice(PrintModuleDirs(), this);
    return *Printer;
}

void TMainForm::Print1Click()
{
    RunOnTable([this] {
        QList<PriceListRow> rows;
        for (int r = 1; r <= PluCount; ++r)
            rows.append({Wb.Table.cell(colPrice, r), Wb.Table.cell(colName, r)});
        ::Print1Click(printDevice(), rows, StringGrid1->font());
    });
}

void TMainForm::Printkeysheet1Click()
{
    RunOnTable([this] {
        QList<QByteArray> names{QByteArray()};
        for (int r = 1; r <= 70; ++r)
            names.append(Wb.Table.cell(colName, r));
        ::Printkeysheet1Click(printDevice(), names, FontDialog1Font);
    });
}

// ------------------------------------------------------------------ scale

void TMainForm::RunScaleCommand(CommandOutcome (ScaleCommands::*command)())
{
    // A hidden menu entry reads as disabled, whatever its state. An upload
    // replaces the table and a command may take over the scale's price mode:
    // both are undone as one step. Every command ends the open cell edit
    // first, so that an unchecked price never reaches the scale or the table.
    if (PortOpen)
        RunTableCommand(tr("Scale command"), [this, command] { (Commands.get()->*command)(); });
}

void TMainForm::DownloadItemClick() { RunScaleCommand(&ScaleCommands::DownloadItemClick); }
void TMainForm::UploadItemClick() { RunScaleCommand(&ScaleCommands::UploadItemClick); }
void TMainForm::ReportItemClick() { RunScaleCommand(&ScaleCommands::ReportItemClick); }
void TMainForm::Salereport1Click() { RunScaleCommand(&ScaleCommands::Salereport1Click); }

void TMainForm::RefreshReportGrid()
{
    const SaleReportGrid& g = Commands ? Commands->ReportGrid : SaleReportGrid();
    if (!StringGrid2) {
        if (g.RowCount() <= 2)
            return;   // no report yet: only the empty row it starts with
        StringGrid2 = new QTableWidget(2, 4, Panel2);
        StringGrid2->setObjectName("StringGrid2");
        StringGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
        StringGrid2->verticalHeader()->hide();
        StringGrid2->hide();
        Panel2->layout()->addWidget(StringGrid2);
    }
    StringGrid2->setRowCount(g.RowCount() - 1);
    StringGrid2->setHorizontalHeaderLabels({MessageTexts[4], MessageTexts[5], MessageTexts[6], MessageTexts[7]});
    for (int r = 1; r < g.RowCount(); ++r) {
        const QStringList cells = g.Row(r);
        StringGrid2->setItem(r - 1, 0, new QTableWidgetItem(QString::number(r)));
        for (int c = 1; c <= 3; ++c)
            StringGrid2->setItem(r - 1, c, new QTableWidgetItem(cells.value(c - 1)));
    }
}

// ------------------------------------------------------------------ link

void TMainForm::COM1ItemClick(int tag)
{
    RunGuarded([&] {
        Link.ChoosePort(tag);
        CommBtn->setText(Link.PortCaption());
    });
}

void TMainForm::BaudRate2Click(int tag)
{
    RunGuarded([&] {
        Link.ChooseBaudRate(tag);
        BaudRateBtn->setText(Link.BaudCaption());
        KYRBusComm1->SetBaudRate(Link.BaudRateValue);
    });
}

void TMainForm::ToolbarButton972Click()
{
    RunGuarded([this] {
        KYRBusComm1->CommName = LinkSettings::devicePath(Link.PortCaption());   // KYR.CFG as it is now
        KYRBusComm1->SetActive(true);
        UpdatePortButtons(false);
    });
}

void TMainForm::ToolbarButton973Click()
{
    RunGuarded([this] {
        try {
            KYRBusComm1->SetActive(false);
        } catch (...) {
            UpdatePortButtons(true);   // the port is closed even when DEBUG.LOG failed
            throw;
        }
        UpdatePortButtons(true);
    });
}

void TMainForm::UpdatePortButtons(bool portClosed)
{
    PortOpen = !portClosed;
    ToolbarButton972->setEnabled(portClosed);
    ToolbarButton973->setEnabled(!portClosed);
    UploadBtn->setEnabled(!portClosed);
    DownBtn->setEnabled(!portClosed);
    for (QAction* a : {DownloadItem, UploadItem, ReportItem, Salereport1, CompareItem})
        a->setEnabled(!portClosed);
}
