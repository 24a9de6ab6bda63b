#pragma once
#include <QString>

// Every message box, file dialog and beep of the program goes through this
// interface: Qt widgets in the window, stderr on the command line, a
// scripted fake in tests. Nothing in the logic opens a modal dialog itself.
enum class MsgIcon { None, Information, Warning, Error };
enum class MsgButtons { Ok, OkCancel, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual MsgResult messageBox(const QString& text, const QString& caption,
                                 MsgIcon icon, MsgButtons buttons) = 0;
    // The framework's error box, for exceptions that end a command.
    virtual void errorBox(const QString& text) = 0;
    // Open/save dialogs with the PLU file filter "PLU files(*.KYR)|*.KYR",
    // default extension KYR, initial directory "."; the save dialog confirms
    // overwriting. False when cancelled.
    virtual bool openFileName(QString* path) = 0;
    virtual bool saveFileName(QString* path) = 0;
    // The open dialog, starting in `dir` instead of the current directory.
    virtual bool openFileNameIn(const QString& dir, QString* path)
    {
        (void)dir;
        return openFileName(path);
    }
    // The same for CSV files (*.csv, default extension csv). Nobody answers
    // where no dialog can be shown.
    virtual bool csvFileName(bool save, QString* path)
    {
        (void)save;
        (void)path;
        return false;
    }
    // The simple beep.
    virtual void beep() = 0;
};

// The process-wide instance. Never null: until one is installed, a fallback
// writes to stderr and answers Cancel/No.
Dialogs& dialogs();
void setDialogs(Dialogs* d);   // not owned; nullptr restores the fallback
