// The input is a language file; LoadLanguage applies it to a small form.
#include "codepage.h"
#include "fuzzing.h"
#include "language.h"
#include "messagetexts.h"
#include <QCoreApplication>
#include <QObject>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char arg0[] = "fuzz", *argv[] = {arg0, nullptr};
    static const QCoreApplication* app = new QCoreApplication(argc, argv);   // never destroyed
    static const bool gbk = (cp::setName("GBK"), true);
    (void)app, (void)gbk;
    static const QString path = ScratchFile("fuzz.LNG");
    WriteAll(path, Bytes(data, size));

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
    make<QLabel>(label, "PriceTitleButton")->text = "Unit Price";
    make<QObject>(&form, "Timer1");
    QObject about;
    about.setObjectName("AboutBox");
    about.setProperty("windowTitle", QString("About"));

    LoadLanguage({&form, &about, nullptr}, path);
    LoadLanguage({&form, &about}, path);   // a second load, as the language menu does
    return 0;
}

#include "fuzz_language.moc"
