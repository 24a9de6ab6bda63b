#include "dialogs.h"
#include <atomic>
#include <cstdio>

namespace {
// Without a window nobody can answer: refuse everything, so no command
// goes ahead on a question nobody saw.
class StderrDialogs : public Dialogs {
public:
    MsgResult messageBox(const QString& text, const QString& caption, MsgIcon,
                         MsgButtons buttons) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
    }
    void errorBox(const QString& text) override
    {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    bool openFileName(QString*) override { return false; }
    bool saveFileName(QString*) override { return false; }
    void beep() override {}
};

StderrDialogs Fallback;
std::atomic<Dialogs*> Current{nullptr};
} // namespace

Dialogs& dialogs()
{
    Dialogs* d = Current.load();
    return d ? *d : Fallback;
}

void setDialogs(Dialogs* d) { Current.store(d); }
