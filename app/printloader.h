#pragma once
#include "printing.h"
#include <QStringList>
#include <memory>

class QWidget;

// The print module (varlo-print.so): Qt's print support and the print and
// font dialogs behind PrintDevice. Kept out of the program so that a start
// does not load and relocate a library most runs never use.
using CreatePrintDeviceFn = PrintDevice* (*)(QWidget* owner);
inline constexpr char CreatePrintDeviceSymbol[] = "varlo_create_print_device";
inline constexpr char PrintModuleFile[] = "varlo-print.so";

// Where the module is looked for: beside the program (the build tree), then
// the installation's library directory.
QStringList PrintModuleDirs();

// Loads the module from the first of `dirs` that holds it and makes the
// window's printer. Throws AppError ("Unable to print", with the reason)
// when there is no module or it cannot be loaded.
std::unique_ptr<PrintDevice> LoadPrintDevice(const QStringList& dirs, QWidget* owner);
