#include "usage.h"
#include "exedir.h"

QString HelpText()
{
    return QStringLiteral(
        "Usage: varlo-manager [--demo [--demo-fault RULE]...] [--home DIR] [QT-OPTION]...\n"
        "  or:  varlo-manager download|upload FILE.KYR [--port NAME] [--baud N] [--home DIR]\n"
        "  or:  varlo-manager report|values [--port NAME] [--baud N] [--home DIR]\n"
        "Keep the 77-PLU price table of a price-computing scale, and exchange it with\n"
        "the scale over a serial line. Without a command, open the window; with one,\n"
        "run that scale command without a display and exit.\n"
        "\n"
        "Commands:\n"
        "  download FILE.KYR  load FILE, then write its unit prices and the price\n"
        "                     decimal mode into the scale\n"
        "  upload FILE.KYR    read the unit prices and the price mode from the scale,\n"
        "                     then save the table to FILE\n"
        "  report             read the scale's sale figures; print the line added to\n"
        "                     the day's report file\n"
        "  values             read the scale's current weight, unit price and total;\n"
        "                     print the line\n"
        "\n"
        "Options:\n"
        "  --port NAME        COM1 to COM99, or a device path such as /dev/ttyUSB0\n"
        "                     (default: Port of [COMM] in KYR.CFG)\n"
        "  --baud N           2400 or 9600 (default: BaudRate of [COMM] in KYR.CFG)\n"
        "  --home DIR         keep settings, logs and reports in DIR, which must exist\n"
        "  --demo             open the window on a simulated scale, reached through\n"
        "                     the configured port\n"
        "  --demo-fault RULE  make the simulated scale misbehave (repeatable; RULE as\n"
        "                     for varlo-scale-sim --fault)\n"
        "  --help             show this help and exit\n"
        "  --version          show the version and the directory of the files, and exit\n"
        "The window also takes Qt's options, such as -platform NAME.\n"
        "\n"
        "Exit status:\n"
        "  0    success; the command's success text or line is on standard output\n"
        "  1    the scale command failed; its error text is on standard error\n"
        "  2    bad usage, a file that cannot be read or written, a directory that\n"
        "       cannot be used, or a port that cannot be opened\n"
        "  130  interrupted: Ctrl-C cancels the request in progress, nothing more is\n"
        "       sent\n"
        "\n"
        "Files:\n"
        "  All of them live in one directory: DIR of --home; else $VARLO_HOME; else,\n"
        "  for a program installed in PREFIX/bin with PREFIX/share/varlo-manager beside\n"
        "  it, $XDG_DATA_HOME/varlo-manager (~/.local/share/varlo-manager), made on\n"
        "  first start; else the directory of the executable.\n"
        "\n"
        "  config.ini         price decimal mode\n"
        "  KYR.CFG            serial port and speed; [Devices] maps COMn to a device\n"
        "  varlo-manager.LNG  language file; when the directory has none, the one in\n"
        "                     PREFIX/share/varlo-manager is used\n"
        "  yyyymmdd.TXT       sale report lines of that day\n"
        "  DEBUG.LOG          trace of the last link session\n"
        "  Record.txt         record file made at start-up\n"
        "\n"
        "Environment:\n"
        "  VARLO_HOME         the directory of the files (--home wins over it)\n"
        "  XDG_DATA_HOME      where an installed program keeps its directory\n"
        "  HOME               the default of XDG_DATA_HOME is $HOME/.local/share\n"
        "  VARLO_CODEPAGE     code page of the files (GBK, CP1252, ...); default the\n"
        "                     locale's character set\n"
        "  LC_NUMERIC         decimal separator of prices (LC_ALL wins over it)\n");
}

QString VersionText(const QString& homeOption)
{
    const ProgramDirChoice choice =
        ChooseProgramDir(homeOption, CurrentExecutablePath(), DirEnvironment::current());
    return QStringLiteral("varlo-manager " VARLO_VERSION "\nFiles: ") + DescribeProgramDir(choice)
           + '\n';
}
