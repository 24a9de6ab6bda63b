#pragma once
#include "porttable.h"
#include <QDialog>
#include <functional>

class QDialogButtonBox;
class QPushButton;
class QTableWidget;

// "Select port...": the ports this machine has, each with its state, for
// the operator to pick the one that COMn is to reach.
class TPortSelectForm : public QDialog {
    Q_OBJECT
public:
    explicit TPortSelectForm(const QString& comName, QWidget* parent = nullptr);

    // Reads the ports again.
    void Refresh();
    // The path to map the port to: the stable by-id name where there is one.
    QString ChosenPath() const;
    static QString StateCaption(const PortRow& row);

    // Where the rows come from; tests give their own.
    std::function<QList<PortRow>()> Source = [] { return PortTable(); };

    QTableWidget* Grid;
    QPushButton* RefreshBtn;
    QDialogButtonBox* Buttons;

private:
    QString ComName;
    QList<PortRow> Rows;
};

// Shows the dialog for COMn and maps COMn to the chosen port in KYR.CFG
// [Devices]; true when a port was chosen (EIniError when it cannot be written).
bool SelectPortFor(int comNumber, QWidget* parent);
