#pragma once
#include "messagetexts.h"
#include "qtprint.h"
#include "regional.h"
#include "scripteddialogs.h"
#include "testdirs.h"
#include "workbook.h"
#include <QDir>
#include <QLocale>
#include <gtest/gtest.h>

// Every workbook test runs under both decimal separators.
class SepTest : public ::testing::TestWithParam<char> {
protected:
    void SetUp() override
    {
        regional::setDecimalSeparator(GetParam());
        MessageTexts.resetToBuiltIn();
    }
    void TearDown() override { regional::setDecimalSeparator('.'); }

    // A number text written with '.' in the test, shown with the separator in force.
    QByteArray n(const char* text) const
    {
        QByteArray t(text);
        t.replace('.', GetParam());
        return t;
    }
    char otherSep() const { return GetParam() == '.' ? ',' : '.'; }
};

#define INSTANTIATE_SEPARATORS(suite)                                                        \
    INSTANTIATE_TEST_SUITE_P(Sep, suite, ::testing::Values('.', ','),                         \
                             [](const ::testing::TestParamInfo<char>& i) {                   \
                                 return std::string(i.param == '.' ? "Point" : "Comma");     \
                             })

// A started workbook in a fresh program directory, questions scripted.
struct Bench {
    ScopedHome home;
    ScriptedDialogs dlg;
    TIniOptions opts;
    Workbook wb{opts};
    int titles = 0, memos = 0;
    QString lastTitle;

    explicit Bench(const QByteArray& configIni = {})
    {
        if (!configIni.isEmpty())
            home.write("config.ini", configIni);
        QObject::connect(&wb, &Workbook::titleChanged, [this](const QString& t) { ++titles; lastTitle = t; });
        QObject::connect(&wb, &Workbook::memoCleared, [this] { ++memos; });
        wb.Initialise();
    }

    QByteArray price(int row) const { return wb.Table.cell(colPrice, row); }
    QByteArray stored(int row) const { return wb.Table.storedPrice(row); }
    QByteArray name(int row) const { return wb.Table.cell(colName, row); }
    QByteArray unit(int row) const { return wb.Table.cell(colUnit, row); }
    // The price mode in force: "Price Dot/price decimal/Price Max/price length/format".
    QString mode() const
    {
        return QStringLiteral("%1/%2/%3/%4/%5")
            .arg(QString::number(opts.PriceDot), QString::number(opts.PriceDecimal),
                 QString::number(opts.PriceMax, 'g', QLocale::FloatingPointShortest),
                 QString::number(opts.PriceLength), QString::fromLatin1(wb.PriceFormat));
    }
    // What the file commands leave: flag, file (within home), title and memo signals, boxes, dialogs asked.
    QString state() const
    {
        return QStringLiteral("modified %1, file %2, titles %3, memos %4, boxes %5, asked open %6 save %7")
            .arg(QString::number(wb.Modified), QString(wb.CurrentFileName).remove(home.path()),
                 QString::number(titles), QString::number(memos), QString::number(dlg.Boxes.size()),
                 QString::number(dlg.OpenAsked), QString::number(dlg.SaveAsked));
    }
    // Shown price, stored price, name and unit, '|' between.
    QByteArray row(int r) const { return price(r) + '|' + stored(r) + '|' + name(r) + '|' + unit(r); }
    void expectRow(int r, const QByteArray& p, const QByteArray& nm, const QByteArray& u) const
    {
        EXPECT_EQ(row(r), p + '|' + p + '|' + nm + '|' + u) << "row " << r;
    }

    // What Open does with a file of these bytes, and what a save writes.
    void load(const QByteArray& bytes)
    {
        home.write("in.KYR", bytes);
        wb.ResetTable();
        wb.LoadPluFile(home.file("in.KYR"));
    }
    QByteArray saved()
    {
        wb.SavePluFile(home.file("out.KYR"));
        return home.read("out.KYR");
    }

    // Typing into a price cell: the first key opens the editor with the whole
    // text selected, the others append. Returns the keys that passed.
    int type(int row, const QByteArray& keys)
    {
        int passed = 0;
        wb.GetEditText(colPrice, row);
        bool selected = true;
        for (char k : keys) {
            const QByteArray text = price(row);
            if (!wb.KeyPress(colPrice, row, QLatin1Char(k), text, selected))
                continue;
            ++passed;
            wb.SetEditText(colPrice, row, selected ? QByteArray(1, k) : text + k);
            selected = false;
        }
        return passed;
    }
    void backspace(int row)
    {
        EXPECT_TRUE(wb.KeyPress(colPrice, row, QChar(8), price(row), false));
        wb.SetEditText(colPrice, row, price(row).chopped(1));
    }
    // What a paste does: the cell text changes, no key is filtered.
    void paste(int row, const QByteArray& text) { wb.SetEditText(colPrice, row, text); }
};
