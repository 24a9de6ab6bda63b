// The input is a language file; LoadLanguage applies it to a small form.
#include "codepage.h"
#include "language.h"
#include "messagetexts.h"
#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <memory>

// This target links no widgets. These stand-ins carry the class names the
// loader looks for, so every kind of component is reached.
class QAction : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(QString iconText MEMBER iconText)
    Q_PROPERTY(QString toolTip MEMBER toolTip)
    Q_PROPERTY(QString statusTip MEMBER statusTip)
public:
    using QObject::QObject;
    QString text, iconText, toolTip, statusTip;
};

class QLabel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(QString toolTip MEMBER toolTip)
public:
    using QObject::QObject;
    QString text, toolTip;
};

namespace {

template <class T> T* make(QObject* parent, const char* name)
{
    auto* o = new T(parent);
    o->setObjectName(QString::fromLatin1(name));
    return o;
}

struct Fixture {
    int argc = 1;
    char arg0[8] = "fuzz";
    char* argv[2] = {arg0, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    QString path = dir.path() + "/fuzz.LNG";
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Fixture* f = new Fixture;
    static bool gbk = (cp::setName("GBK"), true);
    (void)gbk;

    QFile file(f->path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    MessageTexts.resetToBuiltIn();
    QObject form;
    form.setObjectName("MainForm");
    form.setProperty("windowTitle", QString("Qv8 Manager"));
    auto* item = make<QAction>(&form, "DownloadItem");
    item->text = "&Download PLU";
    item->toolTip = item->statusTip = "Download PLU";
    make<QAction>(&form, "N1");
    auto* label = make<QLabel>(&form, "Label1");
    label->text = "Weight";
    label->toolTip = "hint";
    auto* button = make<QLabel>(label, "PriceTitleButton");
    button->text = "Unit Price";
    make<QObject>(&form, "Timer1");
    QObject about;
    about.setObjectName("AboutBox");
    about.setProperty("windowTitle", QString("About"));

    LoadLanguage({&form, &about, nullptr}, f->path);
    LoadLanguage({&form, &about}, f->path);   // a second load, as the language menu does
    return 0;
}

#include "fuzz_language.moc"
