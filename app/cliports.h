#pragma once
#include <QString>

// varlo-manager ports [--home DIR]: one line per port,
// NAME<TAB>PATH<TAB>DESCRIPTION<TAB>STATE; exit 0 even when there is none.
// The exit status: 0, or 2 when the program directory cannot be used.
int RunPortsCommand(const QString& home);
