#include "language.h"
#include "codepage.h"
#include "inifile.h"
#include "messagetexts.h"
#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <exception>

namespace {

// Which properties carry a component's caption and hint. Class names, not
// headers, so this library needs no widgets.
struct TextProps {
    const char* caption = nullptr;   // nullptr: the class has no caption
    const char* hint = nullptr;      // nullptr: the component is skipped
    bool action = false;
};

TextProps propsOf(const QObject* o)
{
    if (o->inherits("QAction"))
        return {"text", "toolTip", true};
    if (o->inherits("QMenu") || o->inherits("QGroupBox"))
        return {"title", "toolTip"};
    if (o->inherits("QAbstractButton") || o->inherits("QLabel") || o->inherits("QLineEdit"))
        return {"text", "toolTip"};
    if (o->inherits("QPlainTextEdit") || o->inherits("QTextEdit"))
        return {"plainText", "toolTip"};
    if (o->isWidgetType())
        return {nullptr, "toolTip"};
    return {};
}

// QAction::toolTip() falls back to its text with '&' and "..." taken out;
// that fallback is no hint of its own.
QString implicitActionToolTip(const QObject* a)
{
    QString s = a->property("text").toString();
    if (s.isEmpty())
        s = a->property("iconText").toString();
    s.remove(QStringLiteral("..."));
    for (int i = 0; i < s.size(); ++i)
        if (s.at(i) == u'&')
            s.remove(i, 1);
    return s.trimmed();
}

QString actionHint(const QObject* a)
{
    const QString status = a->property("statusTip").toString();
    if (!status.isEmpty())
        return status;
    const QString tip = a->property("toolTip").toString();
    return tip == implicitActionToolTip(a) ? QString() : tip;
}

QByteArray keyOf(const QString& name) { return cp::encode(name); }

// The current text is the default: an absent key leaves `text` as it is,
// without a round trip through the code page.
bool lookUp(const IniFile& ini, const QByteArray& section, const QByteArray& key, QString* text)
{
    bool found = false;
    const QByteArray v = ini.readString(section, key, {}, &found);
    if (found)
        *text = cp::decode(v);
    return found;
}

void applyProperty(const IniFile& ini, const QByteArray& section, const QByteArray& key,
                   QObject* o, const char* prop)
{
    QString text = o->property(prop).toString();
    if (text.isEmpty())
        return;
    if (lookUp(ini, section, key, &text))
        o->setProperty(prop, text);
}

void applyComponent(const IniFile& ini, const QByteArray& section, QObject* o)
{
    const TextProps p = propsOf(o);
    if (!p.hint)
        return;
    const QByteArray name = keyOf(o->objectName());
    if (p.caption)
        applyProperty(ini, section, name + ".Caption", o, p.caption);

    if (p.action) {
        QString hint = actionHint(o);
        if (!hint.isEmpty() && lookUp(ini, section, name + ".Hint", &hint)) {
            o->setProperty("toolTip", hint);
            o->setProperty("statusTip", hint);
        }
    } else {
        applyProperty(ini, section, name + ".Hint", o, p.hint);
    }
}

// The named descendants of `parent`, parents before their children. A form
// that lives inside another (the about box is a child of the main window)
// holds its own components: they are read under its own section only.
void collectComponents(const QObject* parent, const QList<QObject*>& forms,
                       QList<QPointer<QObject>>* out)
{
    for (QObject* c : parent->children()) {
        if (forms.contains(c))
            continue;
        const QString n = c->objectName();
        if (!n.isEmpty() && !n.startsWith(QLatin1String("qt_")))
            out->append(c);
        collectComponents(c, forms, out);
    }
}

void applyForm(const IniFile& ini, QObject* form, const QList<QObject*>& forms)
{
    const QByteArray section = keyOf(form->objectName());
    if (section.isEmpty())
        return;
    applyProperty(ini, section, "Caption", form, "windowTitle");

    // Snapshot first: setting a text must not change what is walked, and a
    // component that goes away meanwhile is left alone.
    QList<QPointer<QObject>> components;
    collectComponents(form, forms, &components);
    for (const QPointer<QObject>& c : components)
        if (c)
            applyComponent(ini, section, c);
}

} // namespace

void ApplyLanguageTable(const IniFile& ini, const char* section, int first, int count)
{
    for (int i = 0; i < count; ++i) {
        QString text = MessageTexts[first + i];
        if (lookUp(ini, section, QByteArray::number(i), &text))
            MessageTexts.set(first + i, text);
    }
}

void ApplyLanguageText(const IniFile& ini, const char* key, int entry)
{
    QString text = MessageTexts[entry];
    if (lookUp(ini, "String", key, &text))
        MessageTexts.set(entry, text);
}

void LoadLanguage(const QList<QObject*>& forms, const QString& path)
{
    try {
        const IniFile ini(path);
        if (ini.exists()) {
            for (QObject* form : forms)
                if (form)
                    applyForm(ini, form, forms);
            ApplyLanguageTable(ini, "PLU Grid Titles", mtPluTitleNo, 4);
            ApplyLanguageTable(ini, "Dep Grid Titles", mtDepTitleNo, 4);
            for (int i = mtConnect; i < MessageCount; ++i)
                ApplyLanguageText(ini, TMessageTexts::languageKey(i), i);
        }
    } catch (const std::exception&) {
        // An unreadable file is the same as none: nothing more changes.
    }

    for (QObject* form : forms) {
        if (form && form->objectName() == QLatin1String("MainForm")) {
            if (QObject* b = form->findChild<QObject*>(QStringLiteral("PriceTitleButton")))
                b->setProperty("text", MessageTexts[mtPluTitlePrice]);
        }
    }
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}
