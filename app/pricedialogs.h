#pragma once
#include "reprice.h"
#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTableWidget;
struct CsvImport;
class Workbook;

// The bad rows of a refused import: line, key and what is wrong.
class ImportProblemsDialog : public QDialog {
    Q_OBJECT
public:
    ImportProblemsDialog(const CsvImport& import, const QString& fileName, QWidget* parent);
};

// "Change prices...": the request, and a preview of every row that changes
// (or of the rows that refuse the change) before anything is applied.
class RepriceDialog : public QDialog {
    Q_OBJECT
public:
    RepriceDialog(const Workbook& wb, const QList<int>& selectedRows, QWidget* parent);
    RepricePlan Plan;   // what Apply applies

    QRadioButton *SelectedRows, *AllRows;
    QComboBox *By, *Direction;
    QLineEdit *Value, *Ending;
    QTableWidget* Preview;
    QLabel* Status;
    QDialogButtonBox* Buttons;

private:
    void update();
    const Workbook& Wb;
    QList<int> Selected;
};
