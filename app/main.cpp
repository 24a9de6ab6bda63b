#include "cli.h"
#include "clifiles.h"
#include "scalesim.h"
#include "dialogs.h"
#include "exedir.h"
#include "inioptions.h"
#include "mainform.h"
#include "progressform.h"
#include "qtdialogs.h"
#include "usage.h"
#include "varlostyle.h"
#include <QApplication>
#include <QIcon>
#include <QFileInfo>
#include <QTimer>
#include <clocale>
#include <memory>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
QString optionValue(int argc, char** argv, const char* name)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return QString::fromLocal8Bit(argv[i + 1]);
    return {};
}

bool hasFlag(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}
// Quits the program once `w` has been painted for the first time. The
// window's own paint event comes before its children's; the timer fires
// once the whole window is painted. With VARLO_FIRST_PAINT_FD set, a byte
// on that descriptor tells the start-up benchmark the moment.
class FirstPaintQuit : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !Done) {
            Done = true;
            QTimer::singleShot(0, qApp, [] {
                bool ok = false;
                const int fd = qEnvironmentVariableIntValue("VARLO_FIRST_PAINT_FD", &ok);
                if (ok && write(fd, "p", 1) != 1)
                    std::perror("VARLO_FIRST_PAINT_FD");
                QApplication::quit();
            });
        }
        return QObject::eventFilter(watched, e);
    }
    bool Done = false;
};

void QuitAfterFirstPaint(QWidget* w) { w->installEventFilter(new FirstPaintQuit(w)); }

// --help and --version: a text, and no window.
bool PrintInfoIfAsked(int argc, char** argv)
{
    QString text;
    if (hasFlag(argc, argv, "--help"))
        text = HelpText();
    else if (hasFlag(argc, argv, "--version"))
        text = VersionText(optionValue(argc, argv, "--home"));
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return !text.isEmpty();
}

// An installed program's files go to a directory of the user's, made now;
// without it every setting, log and report would fail, so the start ends.
bool SetUpFiles(const QString& homeOption)
{
    const QString problem = SetUpProgramDir(homeOption, QApplication::applicationFilePath());
    if (problem.isEmpty())
        return true;
    std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
    QtDialogs(nullptr).errorBox(problem);
    return false;
}
} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (IsCliCommand(args))
        return RunCli(argc, argv);
    // A script's unset variable must not quietly mean the default directory
    // or a scale without the fault asked for.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--home") != 0 && std::strcmp(argv[i], "--demo-fault") != 0)
            continue;
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            std::fprintf(stderr, "%s needs a value\nusage: varlo-manager [--demo [--demo-fault RULE]...] "
                                 "[--home DIR]\n", argv[i]);
            return 2;
        }
        ++i;
    }
    if (PrintInfoIfAsked(argc, argv))
        return 0;

    // The price options exist before any window.
    TIniOptions options;
    IniOptions = &options;

    QApplication app(argc, argv);
    QApplication::setStyle(new VarloStyle);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/varlo-manager.png")));
    if (!SetUpFiles(optionValue(argc, argv, "--home")))
        return 2;
    // The language file is named after the program, however it was installed.
    SetProgramBaseName(QFileInfo(QApplication::applicationFilePath()).completeBaseName());

    // --demo: a simulated scale on a pseudo-terminal, reached through the
    // configured port, so every command can be tried without hardware.
    std::unique_ptr<varlo::sim::ScaleSim> demoScale;
    if (hasFlag(argc, argv, "--demo")) {
        LinkSettings link;
        link.Load();
        varlo::sim::Options simOptions;
        simOptions.baud = unsigned(link.BaudRateValue);   // as slow as a real line
        demoScale = std::make_unique<varlo::sim::ScaleSim>(simOptions);
        demoScale->loadDemoState();
        try {
            // --demo-fault RULE: let the simulated scale misbehave (see
            // varlo-scale-sim --help), to see how failures look.
            for (int i = 1; i + 1 < argc; ++i)
                if (std::strcmp(argv[i], "--demo-fault") == 0)
                    demoScale->addFault(argv[i + 1]);
            const QString path = QString::fromStdString(demoScale->start());
            TMainForm::SetDeviceOverride(link.PortCaption(), path);
            std::fprintf(stderr, "varlo-manager: simulated scale on %s (%s)\n",
                         path.toLocal8Bit().constData(), link.PortCaption().toLocal8Bit().constData());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "varlo-manager: cannot start the simulated scale: %s\n", e.what());
            return 2;
        }
    }

    // Installed before the window exists: start-up may already need a box.
    QtDialogs windowDialogs(nullptr);
    setDialogs(&windowDialogs);
    TMainForm* mainForm = new TMainForm;
    windowDialogs.SetOwner(mainForm);
    auto* progress = new TProgressForm;
    auto* about = new TAboutBox(mainForm);
    mainForm->SetSecondaryForms(progress, about);
    if (qEnvironmentVariableIsSet("VARLO_EXIT_AFTER_FIRST_PAINT"))
        QuitAfterFirstPaint(mainForm);   // start-up benchmark
    mainForm->show();
    const int rc = app.exec();
    delete progress;
    delete mainForm;
    setDialogs(nullptr);
    return rc;
}
