#include "reprice.h"
#include "wbtest.h"

namespace {

struct Change { int row; const char* before; const char* after; };

constexpr auto Pct = RepriceRequest::Percent;
constexpr auto Amt = RepriceRequest::Amount;

} // namespace

TEST(Reprice, PercentAmountRoundingAndEndings)
{
    struct Case { const char* what; int mode; char sep; RepriceRequest req; QList<Change> rows; };
    const QList<Case> cases = {
        {"4 % up", 3, '.', {Pct, "4", {1, 2}, ""}, {{1, "12.50", "13.00"}, {2, "0.99", "1.03"}}},
        {"halves away from zero, up", 3, '.', {Pct, "2", {1}, ""}, {{1, "12.25", "12.50"}}},
        {"halves away from zero, down", 3, '.', {Pct, "-2", {1}, ""}, {{1, "12.25", "12.01"}}},
        {"a fraction of a percent", 3, ',', {Pct, "2,5", {1}, ""}, {{1, "10,00", "10,25"}}},
        {"amount up and down", 3, '.', {Amt, "0.5", {1}, ""}, {{1, "1.00", "1.50"}}},
        {"amount down, '.' under a ',' locale", 3, ',', {Amt, "-0.25", {1}, ""}, {{1, "1,00", "0,75"}}},
        {"ending 9 goes up to it", 3, '.', {Amt, "0", {1, 2, 3}, "9"},
         {{1, "12.34", "12.39"}, {2, "12.40", "12.49"}, {3, "12.39", "12.39"}}},
        {"ending 99 after a raise", 3, '.', {Pct, "4", {1}, "99"}, {{1, "12.50", "13.99"}}},
        {"whole prices", 0, '.', {Pct, "4", {1, 2}, "9"}, {{1, "450", "469"}, {2, "100", "109"}}},
        {"three decimals", 5, '.', {Pct, "10", {1}, ""}, {{1, "1.250", "1.375"}}},
        {"only the rows asked for; empty rows stay empty", 3, '.', {Amt, "1", {2, 3}, ""},
         {{1, "5.00", "5.00"}, {2, "5.00", "6.00"}, {3, "0.00", "0.00"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        regional::setDecimalSeparator(c.sep);
        Bench b;
        b.wb.PriceDecimalCommand(c.mode);
        for (const Change& ch : c.rows)
            b.wb.Table.setCell(colPrice, ch.row, ch.before);
        const RepricePlan plan = PlanReprice(b.wb, c.req);
        ASSERT_TRUE(plan.ok()) << plan.Problem.toStdString();
        int changing = 0;
        for (const Change& ch : c.rows)
            changing += QByteArray(ch.before) != ch.after;
        EXPECT_EQ(plan.Changes.size(), changing);   // the preview lists exactly the rows that change
        ApplyReprice(b.wb, plan);
        for (const Change& ch : c.rows) {
            EXPECT_EQ(b.price(ch.row), ch.after) << "row " << ch.row;
            if (QByteArray(ch.before) != ch.after) {
                EXPECT_EQ(b.stored(ch.row), ch.after) << "row " << ch.row;
            }
        }
        regional::setDecimalSeparator('.');
    }
}

TEST(Reprice, AnOutOfRangeResultRefusesTheChangeAndNamesTheRows)
{
    Bench b;
    b.wb.Table.setCell(colPrice, 1, "1.00");
    b.wb.Table.setCell(colPrice, 2, "3.00");
    b.wb.Table.setCell(colPrice, 8, "99999.00");
    RepricePlan plan = PlanReprice(b.wb, RepriceRequest{Amt, "-2", {1, 2}, ""});
    ASSERT_FALSE(plan.ok());
    ASSERT_EQ(plan.Refused.size(), 1);
    EXPECT_EQ(plan.Refused[0].Row, 1);
    EXPECT_EQ(plan.Refused[0].Why, "below 0");
    ApplyReprice(b.wb, plan);
    EXPECT_EQ(b.price(2), "3.00");
    plan = PlanReprice(b.wb, RepriceRequest{Pct, "1", {2, 8}, ""});
    ASSERT_EQ(plan.Refused.size(), 1);
    EXPECT_EQ(RepricePreview(b.wb, plan.Refused).value(0),
              "U1" + QString(20, QLatin1Char(' ')) + "99999.00 -> 100998.99  (above the maximum 99999.99)");
}

TEST(Reprice, RequestsThatAreNotOneAreRefusedWithTheirReason)
{
    Bench b;
    const struct { RepriceRequest req; const char* why; } cases[] = {
        {{Amt, "0.005", {1}, ""}, "more decimals"},
        {{Amt, "1e2", {1}, ""}, "not a number"},
        {{Pct, "", {1}, ""}, "percentage must be"},
        {{Pct, "1001", {1}, ""}, "percentage must be"},
        {{Pct, "1", {1}, "9x"}, "ending"},
        {{Pct, "1", {1}, "1234"}, "ending"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(PlanReprice(b.wb, c.req).Problem.contains(QLatin1String(c.why))) << c.why;
}

TEST(Reprice, KeyLists)
{
    QString problem;
    EXPECT_EQ(ParseKeyList("M1,U3-U5", &problem), (QList<int>{1, 10, 11, 12}));
    EXPECT_EQ(ParseKeyList("3-1", &problem), QList<int>{});
    EXPECT_FALSE(problem.isEmpty());
    EXPECT_EQ(ParseKeyList("1-3,m2, u70", &problem), (QList<int>{1, 2, 3, 77}));
    EXPECT_EQ(ParseKeyList("M7-U1", &problem), (QList<int>{7, 8}));
    for (const char* bad : {"M8", "U71", "", "U1-", "U1-U2-U3", "0"})
        EXPECT_TRUE(ParseKeyList(bad, &problem).isEmpty()) << bad;
}
