#include "portselectform.h"
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TPortSelectForm::TPortSelectForm(const QString& comName, QWidget* parent)
    : QDialog(parent), ComName(comName)
{
    setObjectName("PortSelectForm");
    setWindowTitle("Select port");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString("The port that %1 reaches:").arg(comName), this));
    Grid = new QTableWidget(0, 4, this);
    Grid->setObjectName("PortGrid");
    Grid->setHorizontalHeaderLabels({"Name", "Port", "Device", "State"});
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->verticalHeader()->hide();
    Grid->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Grid);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    RefreshBtn = Buttons->addButton("&Refresh", QDialogButtonBox::ResetRole);
    layout->addWidget(Buttons);
    connect(RefreshBtn, &QPushButton::clicked, this, &TPortSelectForm::Refresh);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(Grid, &QTableWidget::itemSelectionChanged, this, [this] {
        Buttons->button(QDialogButtonBox::Ok)->setEnabled(!ChosenPath().isEmpty());
    });
    connect(Grid, &QTableWidget::cellDoubleClicked, this, [this] {
        if (!ChosenPath().isEmpty())
            accept();
    });
    resize(760, 300);
}

QString TPortSelectForm::StateCaption(const PortRow& row)
{
    if (row.network)
        return QStringLiteral("network");
    const SerialPortEntry& p = row.port;
    switch (p.state) {
    case SerialPortEntry::Free: return QStringLiteral("free");
    case SerialPortEntry::NoPermission: return QStringLiteral("no permission");
    case SerialPortEntry::Missing: return QStringLiteral("missing");
    case SerialPortEntry::Busy: break;
    }
    if (p.holders.isEmpty())
        return QStringLiteral("busy");
    return QString("busy, held by %1 (%2)").arg(p.holders.first().program).arg(p.holders.first().pid);
}

void TPortSelectForm::Refresh()
{
    const QString before = ChosenPath();
    Rows = Source();
    Grid->setRowCount(0);
    Grid->setRowCount(int(Rows.size()));
    int select = -1;
    for (int r = 0; r < Rows.size(); ++r) {
        const PortRow& row = Rows[r];
        const QStringList cells{row.name, row.port.path, row.port.description, StateCaption(row)};
        for (int c = 0; c < cells.size(); ++c)
            Grid->setItem(r, c, new QTableWidgetItem(cells[c]));
        if (row.port.path == before || (before.isEmpty() && select < 0 && row.name == ComName))
            select = r;
    }
    Grid->resizeColumnsToContents();
    Grid->clearSelection();
    if (select >= 0)
        Grid->selectRow(select);
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!ChosenPath().isEmpty());
}

QString TPortSelectForm::ChosenPath() const
{
    const QList<QTableWidgetSelectionRange> ranges = Grid->selectedRanges();
    if (ranges.isEmpty() || ranges.first().topRow() >= Rows.size())
        return {};
    return Rows[ranges.first().topRow()].port.path;
}

bool SelectPortFor(int comNumber, QWidget* parent)
{
    TPortSelectForm form("COM" + QString::number(comNumber), parent);
    form.Refresh();
    if (form.exec() != QDialog::Accepted || form.ChosenPath().isEmpty())
        return false;
    MapPort(comNumber, form.ChosenPath());
    return true;
}
