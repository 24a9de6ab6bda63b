#pragma once
#include <QStringList>

// varlo-manager ports [--home DIR]: one line per port,
// NAME<TAB>PATH<TAB>DESCRIPTION<TAB>STATE; exit 0 even when there is none.
bool IsPortsCommand(const QStringList& args);
int RunPortsCommand(const QStringList& args);
