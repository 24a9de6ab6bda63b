// The print module: the window's printer on Qt's print support, with Qt's
// print and font dialogs. Loaded by LoadPrintDevice on the first print.
#include "printercanvas.h"
#include "printloader.h"
#include <QFontDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPointer>
#include <QWidget>

namespace {

// One printer for the whole run: the key sheet's switch to landscape stays.
class QtPrintDevice : public PrintDevice {
public:
    explicit QtPrintDevice(QWidget* owner) : Owner(owner) {}

    bool printDialog() override
    {
        QPrintDialog d(&Printer, Owner);
        d.setObjectName("dlgPnt1");
        return d.exec() == QDialog::Accepted;
    }
    bool fontDialog(QFont& font) override
    {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, font, Owner);
        if (ok)
            font = chosen;
        return ok;
    }
    std::unique_ptr<PrintCanvas> canvas() override { return std::make_unique<PrinterCanvas>(Printer); }

private:
    QPointer<QWidget> Owner;
    QPrinter Printer{QPrinter::HighResolution};
};

} // namespace

extern "C" Q_DECL_EXPORT PrintDevice* varlo_create_print_device(QWidget* owner)
{
    return new QtPrintDevice(owner);
}

static_assert(std::is_same_v<decltype(&varlo_create_print_device), CreatePrintDeviceFn>,
              "the loader and the module agree on the factory");
