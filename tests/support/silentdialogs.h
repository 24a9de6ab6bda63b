#pragma once
#include "dialogs.h"

// Dialogs that show nothing and answer OK / Cancel, for fuzz targets and
// benchmarks that must never block or record (header-only: they link no
// test library).
class SilentDialogs : public Dialogs {
public:
    MsgResult messageBox(const QString&, const QString&, MsgIcon, MsgButtons) override { return MsgResult::Ok; }
    void errorBox(const QString&) override {}
    bool openFileName(QString*) override { return false; }
    bool saveFileName(QString*) override { return false; }
    void beep() override {}
};
