#pragma once
// A language file loaded into forms and the texts it must leave: the
// loader's tests on plain objects and on real widgets share the table form.
#include "codepage.h"
#include "language.h"
#include "messagetexts.h"
#include "testdirs.h"
#include <QObject>
#include <QVariant>
#include <cstring>
#include <gtest/gtest.h>
#include <utility>

struct LanguageCase {
    const char* name;
    QByteArray file;
    QByteArray second;   // the file's bytes at a second load; empty: loaded once
    QList<std::pair<const char*, const char*>> texts = {};   // "Object.property", UTF-8; nullptr: no property
    QList<std::pair<int, QString>> messages = {};   // every other entry keeps its built-in text
    const char* codePage = nullptr;                     // the file's, when not the locale's
};

// The named object: a form of the list or a descendant of one.
inline QObject* FindObject(const QList<QObject*>& forms, const QString& name)
{
    for (QObject* form : forms)
        if (QObject* o = form->objectName() == name ? form : form->findChild<QObject*>(name))
            return o;
    return nullptr;
}

inline void RunLanguageCase(const LanguageCase& c, const QList<QObject*>& forms, const ScopedHome& home)
{
    SCOPED_TRACE(c.name);
    MessageTexts.resetToBuiltIn();
    if (c.codePage)
        cp::setName(c.codePage);
    home.write("case.LNG", c.file);
    LoadLanguage(forms, home.file("case.LNG"));
    if (!c.second.isEmpty()) {
        home.write("case.LNG", c.second);
        LoadLanguage(forms, home.file("case.LNG"));
    }
    cp::useLocaleCodePage();
    for (const auto& [key, text] : c.texts) {
        const QObject* o = FindObject(forms, QString(key).section('.', 0, 0));
        ASSERT_NE(o, nullptr) << key;
        const QVariant v = o->property(std::strchr(key, '.') + 1);
        if (text)
            EXPECT_EQ(v.toString().toStdString(), text) << key;
        else
            EXPECT_FALSE(v.isValid()) << key;
    }
    for (int i = 0; i < MessageCount; ++i) {
        QString expected = TMessageTexts::builtIn(i);
        for (const auto& [entry, text] : c.messages)
            if (entry == i)
                expected = text;
        EXPECT_EQ(MessageTexts[i].toStdString(), expected.toStdString()) << "entry " << i;
    }
}
