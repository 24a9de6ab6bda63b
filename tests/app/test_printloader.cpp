// The print module: found beside the program, loaded on the first print,
// and a clear "Unable to print" when it is missing or broken.
#include "appenvironment.h"
#include "errors.h"
#include "mainform.h"
#include "printloader.h"
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

bool printSupportMapped() { return Mapped("libQt6PrintSupport"); }

AppError loadError(const QStringList& dirs)
{
    try {
        LoadPrintDevice(dirs, nullptr);
    } catch (const AppError& e) {
        return e;
    }
    ADD_FAILURE() << "loaded from " << dirs.join(", ").toStdString();
    return AppError(QString());
}

} // namespace

// In order: the window's failed print must run before anything has loaded
// the module into this process.
TEST(PrintModule, MissingModuleIsAClearErrorInTheWindowAndLeavesPrintSupportUnloaded)
{
    AppEnvironment env;
    ASSERT_FALSE(printSupportMapped()) << "the program itself must not need Qt's print support";
    {
        // The test program's directory holds no module: the window says so.
        TMainForm form;
        form.Print1Click();
        ASSERT_EQ(env.dialogs.Errors.size(), 1);
        EXPECT_TRUE(env.dialogs.Errors[0].startsWith("Unable to print")) << env.dialogs.Errors[0].toStdString();
        EXPECT_TRUE(env.dialogs.Errors[0].contains(PrintModuleFile));
        form.Wb.Modified = false;
    }
    EXPECT_FALSE(printSupportMapped());
    const QStringList searched = PrintModuleDirs();
    ASSERT_EQ(searched.size(), 2);
    EXPECT_EQ(searched[0], QCoreApplication::applicationDirPath());
    QTemporaryDir empty;
    const AppError missing = loadError({empty.path()});
    EXPECT_EQ(missing.Message, "Unable to print");
    EXPECT_TRUE(missing.Detail.contains(empty.path()));

    // Something that is not a loadable module in its place.
    env.home.write(PrintModuleFile, "not an ELF object");
    const AppError broken = loadError({env.home.path()});
    EXPECT_EQ(broken.Message, "Unable to print");
    EXPECT_FALSE(broken.Detail.isEmpty());
}

TEST(PrintModule, TheBuiltModuleMakesAPrinterFromTheFirstDirectoryThatHasIt)
{
    QTemporaryDir empty;
    const QString built = BuildDir() + "/app";
    std::unique_ptr<PrintDevice> device = LoadPrintDevice({empty.path(), built}, nullptr);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(printSupportMapped());
    const std::unique_ptr<PrintCanvas> canvas = device->canvas();
    ASSERT_NE(canvas, nullptr);
    EXPECT_GT(canvas->dpiX(), 0);
    // Loaded once, the same module answers again.
    EXPECT_NE(LoadPrintDevice({built}, nullptr), nullptr);
}
