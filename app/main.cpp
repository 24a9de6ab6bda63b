#include "cli.h"
#include "firstpaint.h"
#include "linksettings.h"
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

namespace {
// An installed program's files go to a directory of the user's, made now;
// without it every setting, log and report would fail, so the start ends.
bool setUpFiles(const QString& homeOption)
{
    const QString problem = SetUpProgramDir(homeOption, QApplication::applicationFilePath());
    if (problem.isEmpty())
        return true;
    std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
    QtDialogs(nullptr).errorBox(problem);
    return false;
}

// --demo: a simulated scale on a pseudo-terminal, reached through the
// configured port, so every command can be tried without hardware. Null,
// after saying why on stderr, when it cannot start.
std::unique_ptr<varlo::sim::ScaleSim> startDemoScale(const CliOptions& o)
{
    LinkSettings link;
    link.Load();
    varlo::sim::Options simOptions;
    simOptions.baud = unsigned(link.BaudRateValue);   // as slow as a real line
    auto scale = std::make_unique<varlo::sim::ScaleSim>(simOptions);
    scale->loadDemoState();
    try {
        // --demo-fault RULE: let the simulated scale misbehave (see
        // varlo-scale-sim --help), to see how failures look.
        for (const QString& rule : o.demoFaults)
            scale->addFault(rule.toStdString());
        const QString path = QString::fromStdString(scale->start());
        LinkSettings::setDemoDevice(link.PortCaption(), path);
        std::fprintf(stderr, "varlo-manager: simulated scale on %s (%s)\n", path.toLocal8Bit().constData(),
                     link.PortCaption().toLocal8Bit().constData());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varlo-manager: cannot start the simulated scale: %s\n", e.what());
        return nullptr;
    }
    return scale;
}

int runWindow(const CliOptions& o, int argc, char** argv)
{
    // The price options exist before any window.
    TIniOptions options;
    IniOptions = &options;

    QApplication app(argc, argv);
    QApplication::setStyle(new VarloStyle);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/varlo-manager.png")));
    if (!setUpFiles(o.home))
        return 2;
    // The language file is named after the program, however it was installed.
    SetProgramBaseName(QFileInfo(QApplication::applicationFilePath()).completeBaseName());
    std::unique_ptr<varlo::sim::ScaleSim> demoScale;
    if (o.demo && !(demoScale = startDemoScale(o)))
        return 2;

    // Installed before the window exists: start-up may already need a box.
    QtDialogs windowDialogs(nullptr);
    setDialogs(&windowDialogs);
    TMainForm* mainForm = new TMainForm;
    windowDialogs.SetOwner(mainForm);
    auto* progress = new TProgressForm;
    auto* about = new TAboutBox(mainForm);
    mainForm->SetSecondaryForms(progress, about);
    if (qEnvironmentVariableIsSet("VARLO_EXIT_AFTER_FIRST_PAINT"))
        quitAfterFirstPaint(mainForm);   // start-up benchmark
    mainForm->show();
    const int rc = app.exec();
    delete progress;
    delete mainForm;
    setDialogs(nullptr);
    return rc;
}
} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    QByteArrayList args;
    for (int i = 0; i < argc; ++i)
        args << QByteArray(argv[i]);
    const CliOptions options = parseCommandLine(args);
    switch (options.mode) {
    case CliOptions::Help:
        std::fputs(options.text.toLocal8Bit().constData(), stdout);
        return exitStatus(CliOutcome::Succeeded);
    case CliOptions::Version:
        std::fputs(VersionText(options.home).toLocal8Bit().constData(), stdout);
        return exitStatus(CliOutcome::Succeeded);
    case CliOptions::BadUsage:
        printUsageProblem(options);
        return exitStatus(CliOutcome::BadUsage);
    case CliOptions::Command: {
        QCoreApplication app(argc, argv);
        return exitStatus(runCommandLine(options));
    }
    case CliOptions::Window:
        break;
    }
    return runWindow(options, argc, argv);
}
