#pragma once
#include "safetynets.h"
#include <QDialog>

class QLabel;
class QTableWidget;

// The differences a compare found: one row per PLU (key, price and unit in
// the table, price and unit in the scale), the price mode first when it
// differs.
class CompareDialog : public QDialog {
    Q_OBJECT
public:
    CompareDialog(const QList<PluDifference>& differences, QWidget* parent = nullptr);

    QLabel* SummaryLabel;
    QTableWidget* DifferenceGrid;
};
