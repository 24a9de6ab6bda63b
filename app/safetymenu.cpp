// The window's safety nets: "Compare with scale", "Verify after download"
// and "Backup before download" in the Communication menu, "Restore
// backup..." in the File menu.
#include "safetymenu.h"
#include "backups.h"
#include "dialogs.h"
#include "errors.h"
#include "mainform.h"
#include "safetyoptions.h"
#include "scalecommands.h"
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QVBoxLayout>

CompareDialog::CompareDialog(const QList<PluDifference>& differences, QWidget* parent) : QDialog(parent)
{
    setObjectName("CompareDialog");
    setWindowTitle(tr("Compare with scale"));
    auto* layout = new QVBoxLayout(this);
    SummaryLabel = new QLabel(this);
    SummaryLabel->setObjectName("SummaryLabel");
    const int plus = differences.size() - (differences.value(0).Row == 0 ? 1 : 0);
    QString summary = plus == 1 ? tr("The scale does not hold the table: 1 PLU differs.")
                                : tr("The scale does not hold the table: %1 PLUs differ.").arg(plus);
    if (differences.value(0).Row == 0)
        summary += ' ' + tr("Its price mode differs too.");
    SummaryLabel->setText(summary + '\n' + tr("Download PLU writes the table into the scale."));
    layout->addWidget(SummaryLabel);

    DifferenceGrid = new QTableWidget(int(differences.size()), 5, this);
    DifferenceGrid->setObjectName("DifferenceGrid");
    DifferenceGrid->setHorizontalHeaderLabels(
        {tr("Key"), tr("Table price"), tr("Table unit"), tr("Scale price"), tr("Scale unit")});
    DifferenceGrid->verticalHeader()->hide();
    DifferenceGrid->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    DifferenceGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DifferenceGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int r = 0; r < differences.size(); ++r) {
        const PluDifference& d = differences[r];
        const QStringList cells{d.Row == 0 ? tr("Price mode") : d.Key, d.ExpectedPrice, d.ExpectedUnit,
                                d.ScalePrice, d.ScaleUnit};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(c == 1 || c == 3 ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
            DifferenceGrid->setItem(r, c, item);
        }
    }
    DifferenceGrid->resizeColumnsToContents();
    DifferenceGrid->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(DifferenceGrid);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(460, 420);
}

// ------------------------------------------------------------------ the window's handlers

void TMainForm::BuildSafetyItems(QMenu* file, QAction* fileAfter, QMenu* comm)
{
    RestoreBackupItem = new QAction(tr("Restore backup..."), this);
    RestoreBackupItem->setObjectName("RestoreBackupItem");
    RestoreBackupItem->setStatusTip(tr("Open a backup of the scale's table, in the price mode it was taken in"));
    const QList<QAction*> items = file->actions();
    file->insertAction(items.value(items.indexOf(fileAfter) + 1), RestoreBackupItem);

    comm->addSeparator();
    CompareItem = comm->addAction(tr("Compare with scale"));
    CompareItem->setObjectName("CompareItem");
    CompareItem->setStatusTip(tr("Read the scale's table and show where it differs; changes nothing"));
    VerifyItem = comm->addAction(tr("Verify after download"));
    VerifyItem->setObjectName("VerifyItem");
    VerifyItem->setCheckable(true);
    BackupItem = comm->addAction(tr("Backup before download"));
    BackupItem->setObjectName("BackupItem");
    BackupItem->setCheckable(true);

    connect(RestoreBackupItem, &QAction::triggered, this, &TMainForm::RestoreBackupItemClick);
    connect(CompareItem, &QAction::triggered, this, &TMainForm::CompareItemClick);
    connect(VerifyItem, &QAction::triggered, this, &TMainForm::VerifyItemClick);
    connect(BackupItem, &QAction::triggered, this, &TMainForm::BackupItemClick);
}

void TMainForm::LoadSafetyOptions()
{
    const SafetyOptions o = SafetyOptions::Load(Wb.ConfigFileName);
    VerifyItem->setChecked(o.VerifyAfterDownload);
    BackupItem->setChecked(o.BackupBeforeDownload);
    if (Commands) {
        Commands->VerifyAfterDownload = o.VerifyAfterDownload;
        Commands->BackupBeforeDownload = o.BackupBeforeDownload;
    }
}

// A setting that cannot be saved is not taken: the check mark goes back.
void TMainForm::SaveSafetyOption(QAction* item, void (*save)(const QString&, bool),
                                 bool ScaleCommands::*setting)
{
    const bool on = item->isChecked();
    RunGuarded([&] {
        item->setChecked(!on);
        save(Wb.ConfigFileName, on);
        item->setChecked(on);
        if (Commands)
            (*Commands).*setting = on;
    });
}

void TMainForm::VerifyItemClick()
{
    SaveSafetyOption(VerifyItem, &SafetyOptions::SaveVerify, &ScaleCommands::VerifyAfterDownload);
}

void TMainForm::BackupItemClick()
{
    SaveSafetyOption(BackupItem, &SafetyOptions::SaveBackup, &ScaleCommands::BackupBeforeDownload);
}

void TMainForm::CompareItemClick()
{
    if (!PortOpen || !Commands)
        return;
    RunOnTable([this] {
        if (Commands->CompareItemClick().kind != CommandOutcome::Differs)
            return;
        CompareDialog box(Commands->Differences, this);
        box.exec();
    });
}

void TMainForm::RestoreBackupItemClick()
{
    RunTableCommand(tr("Restore backup"), [this] { ::RestoreBackupItemClick(Wb); });
}
