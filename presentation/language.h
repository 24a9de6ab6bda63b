#pragma once
#include "exedir.h"
#include <QList>
#include <QString>

class IniFile;
class QObject;

// Applies the language file to the given forms and to MessageTexts.
//
// A form's objectName is its section ("MainForm", "ProgressForm",
// "AboutBox"); its caption is the windowTitle property. Every named
// descendant (objects named "qt_..." excepted, and another form of the list
// with everything it holds) is a component; by class:
//   QAction                  text, hint in statusTip/toolTip (both written)
//   QMenu, QGroupBox         title
//   QAbstractButton, QLabel  text
//   QLineEdit                text
//   QPlainTextEdit, QTextEdit plainText
//   other QWidget            no caption, hint only
//   anything else            skipped
// The hint of a widget is its toolTip. Keys are <name>.Caption and
// <name>.Hint; a text that is empty in the program is never looked up.
// Then MessageTexts 0..7 from the grid title sections and 16..36 from
// [String], and PriceTitleButton (under MainForm) takes entry 1.
//
// It cannot fail: a missing or unreadable file changes nothing.
void LoadLanguage(const QList<QObject*>& forms, const QString& path = LanguageFilePath());

// `count` MessageTexts entries from `first` on, under the keys "0", "1", ...
void ApplyLanguageTable(const IniFile& ini, const char* section, int first, int count);
// One MessageTexts entry from section "String".
void ApplyLanguageText(const IniFile& ini, const char* key, int entry);
