#pragma once
#include "progress.h"
#include <QDialog>
#include <QPointer>
#include <functional>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

// The transfer progress dialog: names the current step, counts packages,
// offers Cancel while a transfer runs and turns into an error notice that
// the operator confirms with OK. Modeless; the main window is disabled
// while it is shown.
class TProgressForm : public QDialog, public IProgress {
    Q_OBJECT
public:
    explicit TProgressForm(QWidget* parent = nullptr);

    // Called by Cancel: the bus engine's Cancel.
    std::function<void()> OnCancel;
    // Enable/disable the main window (FormShow / FormClose).
    std::function<void(bool enabled)> OnMainWindowEnabled;
    // The simple beep of the error form.
    std::function<void()> OnBeep;
    // The window the dialog stays above (transient for it). Not a parent:
    // disabling the main window would disable the dialog with it.
    void SetOwnerWindow(QWidget* owner);

    void Show() override;
    void Close() override;
    void SetStatus(const QString& text, bool error) override;
    // Under the progress bar when it fits there in two lines; else its
    // start there and the whole of it behind Details.
    void ShowCause(const QString& cause) override;
    void SetTotal(int count) override;
    void SetCurrent(int number) override;
    int ProgressState() const override { return State; }
    void WaitUntilClosed() override;

    // Handlers, public for tests.
    void OKBtnClick();
    void CancelBtnClick();

    QLabel* StatusLabel;
    QLabel* CurLabel;
    QLabel* TotalLabel;
    QLabel* Label3D1;
    QLabel* Label3D2;
    QLabel* Label3D3;
    QProgressBar* ProgressBar1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QLabel* CauseLabel;
    QPushButton* DetailsBtn;

    void reject() override;              // Escape acts as the visible button

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void FormShow();
    void FormClose();
    void ShowDetails();
    int State = 0;
    bool ClosingFromCode = false;
    QString Cause;
    QPointer<QWidget> Owner;
};
