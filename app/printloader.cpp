#include "printloader.h"
#include "errors.h"
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

QStringList PrintModuleDirs()
{
    const QString bin = QCoreApplication::applicationDirPath();
    return {bin, QDir::cleanPath(bin + QStringLiteral("/" VARLO_PRINT_MODULE_FROM_BINDIR))};
}

std::unique_ptr<PrintDevice> LoadPrintDevice(const QStringList& dirs, QWidget* owner)
{
    const QString unable = QStringLiteral("Unable to print");
    for (const QString& dir : dirs) {
        const QString path = QDir(dir).filePath(QLatin1String(PrintModuleFile));
        if (!QFileInfo::exists(path))
            continue;
        // Never unloaded: the printer it makes lives as long as the window.
        QLibrary module(path);
        auto create = reinterpret_cast<CreatePrintDeviceFn>(module.resolve(CreatePrintDeviceSymbol));
        if (!create)
            throw AppError(unable, module.errorString());
        std::unique_ptr<PrintDevice> device(create(owner));
        if (!device)
            throw AppError(unable, QStringLiteral("%1 made no printer").arg(path));
        return device;
    }
    throw AppError(unable, QStringLiteral("The print module %1 is missing (looked in %2)")
                               .arg(QLatin1String(PrintModuleFile), dirs.join(QStringLiteral(", "))));
}
