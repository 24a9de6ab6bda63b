#pragma once
#include <QString>

// How a scale command reports: TProgressForm in the window, a progress line
// on the command line, a recording fake in tests.
class IProgress {
public:
    virtual ~IProgress() = default;

    virtual void Show() = 0;                 // FormShow: state 0, counts 0
    virtual void Close() = 0;                // the command's own close after success
    virtual void SetStatus(const QString& text, bool error) = 0;
    // After an error status: why the step failed, under the status text.
    virtual void ShowCause(const QString& cause) { (void)cause; }
    virtual void SetTotal(int count) = 0;
    virtual void SetCurrent(int number) = 0;
    // 0 running, 1 error shown, 2 closed by the operator (OK or Cancel).
    virtual int ProgressState() const = 0;
    // After an error status: keep the message loop turning until the
    // operator has closed the dialog (returns at once when state is 2).
    virtual void WaitUntilClosed() = 0;
};
