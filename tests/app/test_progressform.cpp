#include "progressform.h"
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace {
struct Fixture : ::testing::Test {
    TProgressForm form;
    int beeps = 0, cancels = 0;
    QList<bool> mainEnabled;
    void SetUp() override
    {
        form.OnBeep = [this] { ++beeps; };
        form.OnCancel = [this] { ++cancels; };
        form.OnMainWindowEnabled = [this](bool e) { mainEnabled.append(e); };
    }
};
} // namespace

TEST_F(Fixture, ErrorFormShowsOnlyOkWhereCancelWasAndBeeps)
{
    form.Show();
    form.SetStatus("Connect...", false);
    const int cancelX = form.CancelBtn->x();
    form.SetStatus("Download PLU...Error!", true);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(form.ProgressState(), 1);
    EXPECT_EQ(form.StatusLabel->text(), "Download PLU...Error!");
    EXPECT_EQ(form.windowTitle(), "Download PLU...Error!");
    EXPECT_TRUE(form.OKBtn->isVisible());
    EXPECT_FALSE(form.CancelBtn->isVisible());
    EXPECT_EQ(form.OKBtn->x(), cancelX);
    EXPECT_EQ(form.StatusLabel->palette().color(QPalette::Window), QColor(Qt::red));

    // The cause under the fixed text when it fits; else its start, and the
    // whole of it behind Details.
    const QString shortCause = "the line hung up at PLU U12";
    form.ShowCause(shortCause);
    EXPECT_TRUE(form.CauseLabel->isVisible());
    EXPECT_EQ(form.CauseLabel->text(), shortCause);
    EXPECT_FALSE(form.DetailsBtn->isVisible());
    const QString longCause = "the scale's replies did not start with the request's header (02 55 F9 00 C4 04); "
                              "a scale whose replies never echo it cannot be read at PLU M1";
    form.ShowCause(longCause);
    EXPECT_TRUE(form.DetailsBtn->isVisible());
    EXPECT_TRUE(form.CauseLabel->text().startsWith("the scale's replies"));
    EXPECT_LT(form.CauseLabel->text().size(), longCause.size());
    EXPECT_GE(form.DetailsBtn->x(), form.OKBtn->x() + form.OKBtn->width());

    // The next command's first normal status brings Cancel back.
    form.OKBtnClick();
    form.Show();
    form.SetStatus("Connect...", false);
    EXPECT_TRUE(form.CancelBtn->isVisible());
    EXPECT_FALSE(form.OKBtn->isVisible());
    EXPECT_FALSE(form.CauseLabel->isVisible());
    EXPECT_FALSE(form.DetailsBtn->isVisible());
    EXPECT_NE(form.StatusLabel->palette().color(QPalette::Window), QColor(Qt::red));
    EXPECT_EQ(form.ProgressState(), 0);
}

TEST_F(Fixture, ShowDisablesMainWindowAndEveryCloseEnablesIt)
{
    form.Show();
    form.OKBtnClick();
    form.Show();
    form.CancelBtnClick();
    form.Show();
    form.Close();
    EXPECT_EQ(mainEnabled, (QList<bool>{false, true, false, true, false, true}));
    EXPECT_EQ(cancels, 1);
}

TEST_F(Fixture, CancelClosesAndLaterStatusChangesNothing)
{
    form.Show();
    form.SetStatus("Upload PLU...", false);
    form.CancelBtnClick();
    EXPECT_EQ(form.ProgressState(), 2);
    EXPECT_FALSE(form.isVisible());
    form.SetStatus("Upload PLU...Error!", true);
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(form.StatusLabel->text(), "Upload PLU...");
    EXPECT_EQ(form.ProgressState(), 2);
}

TEST_F(Fixture, TotalsAndBar)
{
    form.Show();
    EXPECT_EQ(form.CurLabel->text(), "0");
    EXPECT_EQ(form.TotalLabel->text(), "0");
    const int maxBefore = form.ProgressBar1->maximum();
    form.SetTotal(0);
    EXPECT_EQ(form.ProgressBar1->maximum(), maxBefore);
    form.SetTotal(77);
    form.SetCurrent(77);
    EXPECT_EQ(form.TotalLabel->text(), "77");
    EXPECT_EQ(form.CurLabel->text(), "77");
    EXPECT_EQ(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    form.SetTotal(-3);
    EXPECT_EQ(form.TotalLabel->text(), "0");
    EXPECT_EQ(form.ProgressBar1->maximum(), 77);
    EXPECT_EQ(form.ProgressBar1->value(), 0);
}

TEST_F(Fixture, WaitUntilClosedReturnsWhenOkIsPressed)
{
    form.Show();
    form.SetStatus("Connect...Error!", true);
    bool watchdog = false;
    QTimer::singleShot(20, &form, [this] { form.OKBtn->click(); });
    QTimer::singleShot(5000, &form, [&] { watchdog = true; form.OKBtnClick(); });
    form.WaitUntilClosed();
    EXPECT_FALSE(watchdog);
    EXPECT_EQ(form.ProgressState(), 2);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Fixture, EscapeActsAsTheVisibleButton)
{
    form.Show();
    form.SetStatus("Connect...", false);
    form.reject();
    EXPECT_EQ(cancels, 1);
    form.Show();
    form.SetStatus("Connect...Error!", true);
    form.reject();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(form.ProgressState(), 2);
}

TEST_F(Fixture, StaysAboveTheMainWindowWhichItDoesNotDisable)
{
    QWidget owner;
    owner.show();
    form.SetOwnerWindow(&owner);
    form.OnMainWindowEnabled = [&owner](bool e) { owner.setEnabled(e); };
    form.Show();
    ASSERT_NE(form.windowHandle(), nullptr);
    EXPECT_EQ(form.windowHandle()->transientParent(), owner.windowHandle());
    // Disabling the main window leaves the dialog's buttons usable.
    EXPECT_FALSE(owner.isEnabled());
    form.SetStatus("Download PLU...Error!", true);
    EXPECT_TRUE(form.OKBtn->isEnabled());
    form.OKBtn->click();
    EXPECT_TRUE(owner.isEnabled());
}
