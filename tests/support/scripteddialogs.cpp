#include "scripteddialogs.h"

ScriptedDialogs::ScriptedDialogs() { setDialogs(this); }
ScriptedDialogs::~ScriptedDialogs() { setDialogs(nullptr); }

MsgResult ScriptedDialogs::messageBox(const QString& text, const QString& caption, MsgIcon icon,
                                      MsgButtons buttons)
{
    Boxes.append({text, caption, icon, buttons});
    return Answers.isEmpty() ? MsgResult::Ok : Answers.takeFirst();
}

void ScriptedDialogs::errorBox(const QString& text) { Errors.append(text); }

bool ScriptedDialogs::openFileNameIn(const QString& dir, QString* path)
{
    OpenDir = dir;
    return openFileName(path);
}

bool ScriptedDialogs::openFileName(QString* path)
{
    ++OpenAsked;
    const QString answer = OpenAnswers.isEmpty() ? QString() : OpenAnswers.takeFirst();
    if (answer.isEmpty())
        return false;
    *path = answer;
    return true;
}

bool ScriptedDialogs::csvFileName(bool, QString* path)
{
    const QString answer = CsvAnswers.isEmpty() ? QString() : CsvAnswers.takeFirst();
    if (answer.isEmpty())
        return false;
    *path = answer;
    return true;
}

bool ScriptedDialogs::saveFileName(QString* path)
{
    ++SaveAsked;
    const QString answer = SaveAnswers.isEmpty() ? QString() : SaveAnswers.takeFirst();
    if (answer.isEmpty())
        return false;
    *path = answer;
    return true;
}

void ScriptedDialogs::beep() { ++Beeps; }
