#pragma once
#include "dialogs.h"

class QWidget;

// Dialogs on Qt widgets, for the window.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* owner) : Owner(owner) {}
    void SetOwner(QWidget* owner) { Owner = owner; }
    MsgResult messageBox(const QString& text, const QString& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    void errorBox(const QString& text) override;
    bool openFileName(QString* path) override;
    bool saveFileName(QString* path) override;
    bool openFileNameIn(const QString& dir, QString* path) override;
    bool csvFileName(bool save, QString* path) override;
    void beep() override;

private:
    QWidget* Owner;
};

// Dialogs for the command line: messages go to stderr, questions are
// answered so that nothing is lost (Cancel/No).
class ConsoleDialogs : public Dialogs {
public:
    MsgResult messageBox(const QString& text, const QString& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    void errorBox(const QString& text) override;
    bool openFileName(QString*) override { return false; }
    bool saveFileName(QString*) override { return false; }
    void beep() override {}
};
