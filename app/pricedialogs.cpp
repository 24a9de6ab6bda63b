#include "pricedialogs.h"
#include "codepage.h"
#include "plufile.h"
#include "pricecsv.h"
#include "regional.h"
#include "workbook.h"
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QTableWidget* listTable(const QStringList& titles, QWidget* parent)
{
    auto* t = new QTableWidget(0, int(titles.size()), parent);
    t->setHorizontalHeaderLabels(titles);
    t->verticalHeader()->hide();
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionMode(QAbstractItemView::NoSelection);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setRow(QTableWidget* t, int row, const QStringList& cells, const QColor& color = {})
{
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (color.isValid())
            item->setForeground(color);
        t->setItem(row, c, item);
    }
}

const QColor Refused(176, 0, 0);

} // namespace

ImportProblemsDialog::ImportProblemsDialog(const CsvImport& import, const QString& fileName, QWidget* parent)
    : QDialog(parent)
{
    setObjectName("ImportProblemsDialog");
    setWindowTitle(tr("Import CSV"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(tr("%1 was not imported: %n row(s) are wrong. Nothing in the table has changed.\n"
                               "Correct these rows and import the file again.", nullptr, int(import.Problems.size()))
                                .arg(QFileInfo(fileName).fileName()),
                            this);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* list = listTable({tr("Line"), tr("Key"), tr("What is wrong")}, this);
    list->setObjectName("ProblemList");
    list->setRowCount(int(import.Problems.size()));
    for (int i = 0; i < import.Problems.size(); ++i) {
        const CsvProblem& p = import.Problems[i];
        setRow(list, i, {p.Line > 0 ? QString::number(p.Line) : QString(), p.Key, p.What});
    }
    list->resizeColumnsToContents();
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(560, 320);
}

RepriceDialog::RepriceDialog(const Workbook& wb, const QList<int>& selectedRows, QWidget* parent)
    : QDialog(parent), Wb(wb), Selected(selectedRows)
{
    setObjectName("RepriceDialog");
    setWindowTitle(tr("Change prices"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto* scope = new QHBoxLayout;
    SelectedRows = new QRadioButton(tr("Selected rows (%1)").arg(Selected.size()), this);
    AllRows = new QRadioButton(tr("All rows"), this);
    SelectedRows->setEnabled(!Selected.isEmpty());
    (Selected.size() > 1 ? SelectedRows : AllRows)->setChecked(true);
    scope->addWidget(SelectedRows);
    scope->addWidget(AllRows);
    form->addRow(tr("Rows:"), scope);
    auto* how = new QHBoxLayout;
    Direction = new QComboBox(this);
    Direction->addItems({tr("Raise"), tr("Lower")});
    By = new QComboBox(this);
    By->addItems({tr("by percent (%)"), tr("by amount")});
    Value = new QLineEdit(this);
    Value->setObjectName("Value");
    how->addWidget(Direction);
    how->addWidget(By);
    how->addWidget(Value);
    form->addRow(tr("Change:"), how);
    Ending = new QLineEdit(this);
    Ending->setObjectName("Ending");
    Ending->setPlaceholderText(tr("none (for example 9)"));
    Ending->setMaxLength(3);
    form->addRow(tr("Round up to end in:"), Ending);
    layout->addLayout(form);
    Preview = listTable({tr("Key"), tr("Name"), tr("Old price"), tr("New price")}, this);
    Preview->setObjectName("Preview");
    layout->addWidget(Preview);
    Status = new QLabel(this);
    Status->setObjectName("Status");
    layout->addWidget(Status);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Cancel, this);
    connect(Buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(Buttons);
    for (QRadioButton* b : {SelectedRows, AllRows})
        connect(b, &QRadioButton::toggled, this, &RepriceDialog::update);
    for (QComboBox* c : {Direction, By})
        connect(c, &QComboBox::currentIndexChanged, this, &RepriceDialog::update);
    for (QLineEdit* e : {Value, Ending})
        connect(e, &QLineEdit::textChanged, this, &RepriceDialog::update);
    resize(560, 440);
    update();
}

void RepriceDialog::update()
{
    RepriceRequest req;
    req.By = By->currentIndex() == 0 ? RepriceRequest::Percent : RepriceRequest::Amount;
    const QByteArray value = Value->text().trimmed().toUtf8();
    req.Value = (Direction->currentIndex() == 1 && !value.startsWith('-') ? "-" : "") + value;
    req.Ending = Ending->text().trimmed().toUtf8();
    if (SelectedRows->isChecked()) {
        req.Rows = Selected;
    } else {
        for (int r = 1; r <= PluCount; ++r)
            req.Rows << r;
    }
    Plan = value.isEmpty() ? RepricePlan{tr("Enter a percentage or an amount."), {}, {}} : PlanReprice(Wb, req);
    const bool refused = !Plan.Refused.isEmpty();
    const QList<RepriceLine>& lines = refused ? Plan.Refused : Plan.Changes;
    Preview->setRowCount(Plan.Problem.isEmpty() ? int(lines.size()) : 0);
    for (int i = 0; i < Preview->rowCount(); ++i) {
        const RepriceLine& l = lines[i];
        setRow(Preview, i,
               {QString::fromLatin1(PluKeyLabel(l.Row)), cp::decode(trimBlanks(Wb.Table.cell(colName, l.Row))),
                QString::fromLatin1(l.Old), QString::fromLatin1(l.New) + (refused ? "  (" + l.Why + ")" : "")},
               refused ? Refused : QColor());
    }
    QString status;
    if (!Plan.Problem.isEmpty())
        status = Plan.Problem;
    else if (refused)
        status = tr("Refused: %n price(s) would leave the range 0 to %1. Nothing will change.", nullptr,
                    int(Plan.Refused.size()))
                     .arg(QString::fromLatin1(regional::formatGeneral(Wb.Options.PriceMax)));
    else
        status = tr("%n price(s) will change.", nullptr, int(Plan.Changes.size()));
    Status->setText(status);
    QPalette p = Status->palette();
    p.setColor(QPalette::WindowText, Plan.ok() ? palette().color(QPalette::WindowText) : Refused);
    Status->setPalette(p);
    Buttons->button(QDialogButtonBox::Apply)->setEnabled(Plan.ok() && !Plan.Changes.isEmpty());
}
