#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

class Workbook;

// A bulk price change: the rows' prices raised or lowered by a percentage
// or an amount, rounded to the mode's decimals (halves away from zero),
// optionally brought up to the next price whose last digits are `Ending`.
// Rows without a price (0) are left alone: they are not for sale.
struct RepriceRequest {
    enum Kind { Percent, Amount } By = Percent;
    QByteArray Value;        // signed; '.' or the regional separator
    QList<int> Rows;         // the rows to change
    QByteArray Ending;       // empty, or 1 to 3 digits
};

struct RepriceLine {
    int Row = 0;
    QByteArray Old, New;     // price texts as the table shows them
    QString Why;             // refused rows: what is wrong
};

struct RepricePlan {
    QString Problem;               // the request itself is wrong
    QList<RepriceLine> Changes;    // every row whose price changes
    QList<RepriceLine> Refused;    // results below 0 or above the maximum
    bool ok() const { return Problem.isEmpty() && Refused.isEmpty(); }
};

RepricePlan PlanReprice(const Workbook& wb, const RepriceRequest& request);
// Applies a plan that is ok(); the cells and the price store follow.
void ApplyReprice(Workbook& wb, const RepricePlan& plan);

// "M1,U3-U20,5": keys (M1..U70 or 1..77) and ascending ranges, in table
// order without repeats; empty with `problem` set when a part is not one.
QList<int> ParseKeyList(const QByteArray& text, QString* problem);

// One line a row: key, name, old price, "->", new price (and why, for refused rows).
QStringList RepricePreview(const Workbook& wb, const QList<RepriceLine>& lines);
