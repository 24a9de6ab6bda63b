#include "qtdialogs.h"
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

namespace {
const char* const PluFilter = "PLU files(*.KYR)";   // pattern *.KYR

QFileDialog* pluDialog(QWidget* owner, QFileDialog::AcceptMode mode, const QString& dir = QDir::currentPath())
{
    auto* d = new QFileDialog(owner, QString(), dir, QString::fromLatin1(PluFilter));
    d->setAcceptMode(mode);
    d->setDefaultSuffix("KYR");
    d->setOption(QFileDialog::ReadOnly, false);
    if (mode == QFileDialog::AcceptOpen)
        d->setFileMode(QFileDialog::ExistingFile);
    else
        d->setFileMode(QFileDialog::AnyFile);   // confirms overwriting by default
    return d;
}
} // namespace

MsgResult QtDialogs::messageBox(const QString& text, const QString& caption, MsgIcon icon,
                                MsgButtons buttons)
{
    QMessageBox box(Owner);
    box.setText(text);
    box.setWindowTitle(caption);
    switch (icon) {
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::None: break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgResult::Ok;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    default: return MsgResult::Cancel;
    }
}

void QtDialogs::errorBox(const QString& text)
{
    QMessageBox::critical(Owner, QStringLiteral("Varlo Manager"), text);
}

namespace {
bool askPluFile(QWidget* owner, QFileDialog::AcceptMode mode, QString* path,
                const QString& dir = QDir::currentPath())
{
    QFileDialog* d = pluDialog(owner, mode, dir);
    const bool ok = d->exec() == QDialog::Accepted && !d->selectedFiles().isEmpty();
    if (ok)
        *path = d->selectedFiles().first();
    delete d;
    return ok;
}
} // namespace

bool QtDialogs::openFileName(QString* path) { return askPluFile(Owner, QFileDialog::AcceptOpen, path); }

bool QtDialogs::openFileNameIn(const QString& dir, QString* path)
{
    return askPluFile(Owner, QFileDialog::AcceptOpen, path, dir);
}

bool QtDialogs::saveFileName(QString* path) { return askPluFile(Owner, QFileDialog::AcceptSave, path); }

bool QtDialogs::csvFileName(bool save, QString* path)
{
    QFileDialog d(Owner, QString(), QDir::currentPath(), QStringLiteral("CSV files (*.csv)"));
    d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d.setDefaultSuffix("csv");
    d.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty())
        return false;
    *path = d.selectedFiles().first();
    return true;
}

void QtDialogs::beep() { QApplication::beep(); }

MsgResult ConsoleDialogs::messageBox(const QString& text, const QString&, MsgIcon icon,
                                     MsgButtons buttons)
{
    // Success notices are the command's result, which the command line
    // prints on stdout itself; everything else is a diagnostic.
    if (icon != MsgIcon::Information)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    return buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
}

void ConsoleDialogs::errorBox(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}
