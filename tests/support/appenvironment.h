#pragma once
#include "inioptions.h"
#include "messagetexts.h"
#include "scripteddialogs.h"
#include "testdirs.h"
#include <QFile>

// What a test of the program's windows starts from: a fresh program
// directory, dialogs answered by a script, and the settings and texts a
// window reads when it opens. Header-only: for targets that link the app.
struct AppEnvironment {
    ScopedHome home;
    ScriptedDialogs dialogs;
    TIniOptions options;
    AppEnvironment()
    {
        IniOptions = &options;
        MessageTexts.resetToBuiltIn();
    }
};

// Whether a file whose path contains `part` is mapped into this process
// (a plug-in or library that has been loaded stays mapped).
inline bool Mapped(const char* part)
{
    QFile maps("/proc/self/maps");
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(part);
}
