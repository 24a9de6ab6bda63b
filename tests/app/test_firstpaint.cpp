// The first paint of the main window under the program's own style: no
// image-format plug-in or print support loaded, no painting thread started,
// every picture drawn. A process of its own: plug-ins and threads, once there, stay.
#include "appenvironment.h"
#include "mainform.h"
#include "progressform.h"
#include "varlostyle.h"
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QStyleFactory>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

int threadCount() { return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()); }

bool imagePluginLoaded() { return Mapped("/imageformats/"); }

// Shows the window and lets it paint, through the platform's exposure and
// once more into a pixmap.
void paintOnce(TMainForm& form)
{
    form.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    QApplication::processEvents();
    EXPECT_FALSE(form.grab().isNull());
}

bool blank(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return false;
    return true;
}

} // namespace

TEST(FirstPaint, LoadsNoImagePluginAndStartsNoPaintingThread)
{
    AppEnvironment env;
    ASSERT_FALSE(imagePluginLoaded());
    const int threadsBefore = threadCount();
    QApplication::setStyle(new VarloStyle);
    {
        TMainForm form;
        TProgressForm progress;   // its OK and Cancel pictures too
        form.SetSecondaryForms(&progress, nullptr);
        paintOnce(form);
        EXPECT_FALSE(imagePluginLoaded());
        EXPECT_EQ(threadCount(), threadsBefore);
        EXPECT_FALSE(Mapped("libQt6PrintSupport")) << "print support comes with the first print";
        form.Wb.Modified = false;
    }

    // The same window in the plain style does both on this Qt; where it no
    // longer does, the checks above guard nothing and say so.
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    {
        TMainForm form;
        paintOnce(form);
        const bool plainLoads = imagePluginLoaded();
        const bool plainThreads = threadCount() > threadsBefore;
        form.Wb.Modified = false;
        if (!plainLoads && !plainThreads)
            GTEST_SKIP() << "the plain style neither loads image plug-ins nor paints on threads here";
        EXPECT_TRUE(plainLoads || plainThreads);
    }
}

TEST(FirstPaint, EveryOwnPictureIsDrawnAndTellsItsCommandApart)
{
    const QStyle::StandardPixmap own[] = {
        QStyle::SP_FileIcon,         QStyle::SP_DialogOpenButton,  QStyle::SP_DialogSaveButton,
        QStyle::SP_ArrowDown,        QStyle::SP_ArrowUp,           QStyle::SP_FileDialogDetailedView,
        QStyle::SP_DialogCloseButton, QStyle::SP_DialogOkButton,
        QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton};
    std::set<QByteArray> seen;
    for (QStyle::StandardPixmap which : own) {
        const QPixmap p = VarloStyle::Picture(which, 16, 1.0);
        ASSERT_FALSE(p.isNull()) << which;
        const QImage image = p.toImage();
        EXPECT_EQ(image.size(), QSize(16, 16)) << which;
        EXPECT_FALSE(blank(image)) << which;
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        seen.insert(QByteArray(reinterpret_cast<const char*>(argb.constBits()), int(argb.sizeInBytes())));
    }
    EXPECT_EQ(seen.size(), std::size(own)) << "two commands share a picture";

    // At twice the pixels for a high-density screen, and through the style
    // as the toolbar asks for it.
    const QPixmap sharp = VarloStyle::Picture(QStyle::SP_DialogSaveButton, 16, 2.0);
    EXPECT_EQ(sharp.size(), QSize(32, 32));
    EXPECT_EQ(sharp.deviceIndependentSize(), QSizeF(16, 16));
    VarloStyle style;
    EXPECT_FALSE(style.standardIcon(QStyle::SP_ArrowUp, nullptr, nullptr).isNull());
    // Anything else is the platform style's.
    EXPECT_TRUE(VarloStyle::Picture(QStyle::SP_TrashIcon, 16, 1.0).isNull());
    EXPECT_FALSE(style.standardIcon(QStyle::SP_MessageBoxWarning, nullptr, nullptr).isNull());
}
