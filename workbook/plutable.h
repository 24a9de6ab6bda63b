#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

constexpr int PluCount = 77;
enum PluColumn { colNumber = 0, colPrice = 1, colName = 2, colUnit = 3 };
constexpr int PluColumns = 4;     // column 3 stays in the data, never displayed
constexpr int PluRows = PluCount + 1;

// "M1".."M7", "U1".."U70" for rows 1..77.
QByteArray PluKeyLabel(int row);
// The row of a key: "M1".."U70" (letter case ignored) or the PLU number
// 1..77, blanks around ignored; 0 for anything else.
int PluRowOfKey(const QByteArray& key);

struct TPluRecord {
    double Price = 0;
    QByteArray Name;
    int UnitIndex = 0;
    QByteArray UnitText;
};

// The texts of StringGrid1 (78 rows x 4 columns), the price store of
// StringGrid3 (column 1) and the records. Texts are the 8-bit bytes of the
// code page; the view decodes them for display and encodes what is typed.
class PluTable : public QObject {
    Q_OBJECT
public:
    explicit PluTable(QObject* parent = nullptr);

    QByteArray cell(int col, int row) const;
    void setCell(int col, int row, const QByteArray& text);
    // StringGrid3, column 1.
    QByteArray storedPrice(int row) const;
    void setStoredPrice(int row, const QByteArray& text);

    TPluRecord PluRecords[PluCount + 1];   // 1..77; index 0 unused

signals:
    void cellChanged(int row, int col);

private:
    QByteArray Cells[PluRows][PluColumns];
    QByteArray Stored[PluRows];
};
