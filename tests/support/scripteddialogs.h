#pragma once
#include "dialogs.h"
#include <QList>
#include <QString>
#include <QStringList>

// A Dialogs that answers from a script and records what was asked, so tests
// of logic that asks questions never block. Installs itself while it lives.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    struct Box {
        QString text, caption;
        MsgIcon icon;
        MsgButtons buttons;
    };
    QList<Box> Boxes;            // every message box shown, in order
    QStringList Errors;          // every error box text
    int Beeps = 0;
    int OpenAsked = 0, SaveAsked = 0;

    QList<MsgResult> Answers;    // next answers to message boxes; Ok when empty
    QStringList OpenAnswers;     // next open dialog results; empty string = cancel
    QStringList SaveAnswers;     // next save dialog results; empty string = cancel
    QStringList CsvAnswers;      // next CSV dialog results, open or save; empty string = cancel

    MsgResult messageBox(const QString& text, const QString& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    void errorBox(const QString& text) override;
    bool openFileName(QString* path) override;
    // Records the folder, then answers as openFileName.
    bool openFileNameIn(const QString& dir, QString* path) override;
    QString OpenDir;             // the folder the last openFileNameIn started in
    bool saveFileName(QString* path) override;
    bool csvFileName(bool save, QString* path) override;
    void beep() override;
};
