#pragma once
#include "dialogs.h"
#include <QList>
#include <QString>
#include <QStringList>

// A Dialogs that answers from a script and records what was asked, so tests
// of logic that asks questions never block. Installs itself while it lives.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs() { setDialogs(this); }
    ~ScriptedDialogs() override { setDialogs(nullptr); }

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
    QString OpenDir;             // the folder the last openFileNameIn started in

    MsgResult messageBox(const QString& text, const QString& caption, MsgIcon icon,
                         MsgButtons buttons) override
    {
        Boxes.append({text, caption, icon, buttons});
        return Answers.isEmpty() ? MsgResult::Ok : Answers.takeFirst();
    }
    void errorBox(const QString& text) override { Errors.append(text); }
    bool openFileName(QString* path) override { ++OpenAsked; return next(OpenAnswers, path); }
    // Records the folder, then answers as openFileName.
    bool openFileNameIn(const QString& dir, QString* path) override { OpenDir = dir; return openFileName(path); }
    bool saveFileName(QString* path) override { ++SaveAsked; return next(SaveAnswers, path); }
    bool csvFileName(bool, QString* path) override { return next(CsvAnswers, path); }
    void beep() override { ++Beeps; }

private:
    static bool next(QStringList& answers, QString* path)
    {
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        if (!answer.isEmpty())
            *path = answer;
        return !answer.isEmpty();
    }
};
