// The argument parser alone: which run the words ask for, and each bad
// usage with the reason the contract gives for it. No process is started;
// a few end-to-end runs in test_cli.cpp show the parse reaches stderr.
#include "cliargs.h"
#include "usage.h"
#include <gtest/gtest.h>

namespace {

CliOptions parse(const QByteArrayList& args) { return parseCommandLine(QByteArrayList{"varlo-manager"} + args); }
std::string S(const QString& s) { return s.toStdString(); }
std::string S(const QByteArrayList& args) { return args.join(' ').toStdString(); }

const char WindowUsage[] = "usage: varlo-manager [--demo [--demo-fault RULE]...] [--home DIR]\n";

struct BadCase {
    QByteArrayList args;
    const char* problem;
};

void expectBadUsage(const BadCase& c, const QString& usage)
{
    const CliOptions o = parse(c.args);
    EXPECT_EQ(o.mode, CliOptions::BadUsage) << S(c.args);
    EXPECT_EQ(S(o.problem), c.problem) << S(c.args);
    EXPECT_EQ(S(o.text), S(usage)) << S(c.args);
}

} // namespace

TEST(CliArgs, UsageTextsAreTheContracts)
{
    EXPECT_EQ(S(commandUsage()),
              "usage: varlo-manager {download FILE.KYR [--force] [--verify | --no-verify] [--backup] "
              "| upload FILE.KYR | compare FILE.KYR | report | values} [--port NAME] [--baud N] [--home DIR]\n"
              "       varlo-manager ports [--home DIR]\n"
              "       varlo-manager export FILE.KYR [OUT.csv] [--separator ,|;|tab]\n"
              "       varlo-manager import IN.csv FILE.KYR\n"
              "       varlo-manager reprice FILE.KYR --percent N | --amount X [--keys M1,U3-U20] [--ending 9]\n"
              "                     [--home DIR]");
    EXPECT_EQ(S(fileCommandUsage()), S("usage: " + commandUsage().section("\n       ", 2)));
}

// Words that are no option's value make a command line; Qt's own options
// and the window's leave the window.
TEST(CliArgs, WindowOptions)
{
    CliOptions o = parse({});
    EXPECT_EQ(o.mode, CliOptions::Window);
    EXPECT_FALSE(o.demo);

    o = parse({"-platform", "offscreen", "--demo", "--demo-fault", "aa@cmd=44", "--home", "/h",
               "-style", "fusion", "--demo-fault", "short@cmd=05"});
    EXPECT_EQ(o.mode, CliOptions::Window);
    EXPECT_TRUE(o.demo);
    EXPECT_EQ(o.demoFaults, (QStringList{"aa@cmd=44", "short@cmd=05"}));
    EXPECT_EQ(S(o.home), "/h");

    o = parse({"--version", "--home", "/h"});
    EXPECT_EQ(o.mode, CliOptions::Version);
    EXPECT_EQ(S(o.home), "/h");
    o = parse({"--version", "--help"});
    EXPECT_EQ(o.mode, CliOptions::Help);
    EXPECT_EQ(S(o.text), S(HelpText()));

    // A script's unset variable must not open a window on the default
    // directory, or a simulated scale without the fault asked for.
    for (const BadCase& c : {BadCase{{"--home"}, "--home needs a value"},
                             BadCase{{"--home", ""}, "--home needs a value"},
                             BadCase{{"--demo", "--demo-fault"}, "--demo-fault needs a value"},
                             BadCase{{"--demo", "--demo-fault", "", "--help"}, "--demo-fault needs a value"}})
        expectBadUsage(c, WindowUsage);
}

TEST(CliArgs, ScaleCommands)
{
    CliOptions o = parse({"--home", "/h", "download", "P.KYR", "--port", "/dev/pts/3", "--baud", "2400", "--force"});
    EXPECT_EQ(o.mode, CliOptions::Command);
    EXPECT_EQ(S(o.command), "download");
    EXPECT_EQ(o.files, QStringList{"P.KYR"});
    EXPECT_EQ(S(o.port), "/dev/pts/3");
    EXPECT_EQ(S(o.home), "/h");
    EXPECT_EQ(o.baud, 2400);
    EXPECT_TRUE(o.force);
    EXPECT_FALSE(o.isFileCommand());

    o = parse({"values"});
    EXPECT_TRUE(o.mode == CliOptions::Command && o.baud == 0 && o.port.isEmpty() && o.home.isEmpty());
    o = parse({"upload", "-", "--baud", "9600"});
    EXPECT_EQ(o.files, QStringList{"-"});
    EXPECT_EQ(o.baud, 9600);
    o = parse({"--port", "COM3", "report"});
    EXPECT_EQ(S(o.command), "report");
    EXPECT_EQ(S(o.port), "COM3");
}

// Each error the contract names: exit status 2 with the reason, then the usage.
TEST(CliArgs, ScaleCommandBadUsage)
{
    const BadCase cases[] = {
        {{"frobnicate", "--port", "/dev/pts/3"}, "unknown command frobnicate"},
        {{"--port", "/dev/pts/3"}, "unknown command "},
        {{"--baud", "9600"}, "unknown command "},
        {{"download", "--port", "/dev/pts/3"}, "download needs a PLU file"},
        {{"upload"}, "upload needs a PLU file"},
        {{"report", "extra"}, "report takes no file"},
        {{"download", "A.KYR", "B.KYR"}, "too many arguments"},
        {{"compare", "A.KYR", "B.KYR"}, "too many arguments"},
        {{"values", "extra"}, "values takes no file"},
        {{"report", "--baud", "4800"}, "--baud must be 2400 or 9600"},
        {{"download", "A.KYR", "--baud", "1234"}, "--baud must be 2400 or 9600"},
        {{"download", "A.KYR", "--baud", "--port", "/dev/pts/3"}, "--baud must be 2400 or 9600"},
        {{"download", "A.KYR", "--baud", "9600bps"}, "--baud must be 2400 or 9600"},
        {{"values", "--bogus"}, "unknown option --bogus"},
        {{"values", "-x"}, "unknown option -x"},
        {{"-x", "values"}, "unknown option -x"},
        {{"values", "--demo"}, "unknown option --demo"},
        {{"values", "--version"}, "unknown option --version"},
        {{"values", "--separator", ","}, "unknown option --separator"},
        {{"values", "--force"}, "--force belongs to download"},
        {{"upload", "A.KYR", "--force"}, "--force belongs to download"},
        {{"compare", "A.KYR", "--force"}, "--force belongs to download"},
        // An empty value (a script's unset variable) would quietly mean the
        // configured port or the default directory.
        {{"values", "--port"}, "--port needs a value"},
        {{"values", "--port", ""}, "--port needs a value"},
        {{"values", "--port", "", "--home", "/h"}, "--port needs a value"},
        {{"values", "--home", ""}, "--home needs a value"},
        {{"values", "--baud", ""}, "--baud needs a value"},
        // Qt would turn bytes that are no UTF-8 into another file name.
        {{"download", "PR\xC9IX.KYR"}, "\"PR%C9IX.KYR\" is not UTF-8 text"},
        {{"upload", "UP.KYR", "--home", "/h\xFF"}, "\"/h%FF\" is not UTF-8 text"},
        {{"report", "--help", "\xC9"}, "\"%C9\" is not UTF-8 text"},
    };
    for (const BadCase& c : cases)
        expectBadUsage(c, commandUsage() + '\n');
}

// --help wherever it stands on a command line: the usage on stdout.
TEST(CliArgs, HelpOfACommandLineIsTheUsage)
{
    const QByteArrayList cases[] = {
        {"download", "--help"},
        {"--help", "values"},
        {"download", "P.KYR", "--port", "/dev/pts/3", "--help"},
        {"report", "--baud", "9600", "--help", "--port", "/dev/pts/3"},
        {"export", "a.KYR", "--help"},
        {"frobnicate", "--help"},
    };
    for (const QByteArrayList& args : cases) {
        const CliOptions o = parse(args);
        EXPECT_EQ(o.mode, CliOptions::Help) << S(args);
        EXPECT_EQ(S(o.text), S(commandUsage() + '\n')) << S(args);
    }
    // The value of an option is no request for help.
    EXPECT_EQ(parse({"values", "--port", "--help"}).mode, CliOptions::Command);
}

TEST(CliArgs, FileCommands)
{
    CliOptions o = parse({"export", "a.KYR"});
    EXPECT_EQ(o.mode, CliOptions::Command);
    EXPECT_TRUE(o.isFileCommand());
    EXPECT_EQ(o.files, QStringList{"a.KYR"});
    EXPECT_EQ(o.separator, 0) << "the locale's";
    const struct {
        const char* given;
        char separator;
    } separators[] = {{",", ','}, {";", ';'}, {"tab", '\t'}, {"\t", '\t'}};
    for (const auto& s : separators)
        EXPECT_EQ(parse({"export", "a.KYR", "-", "--separator", s.given}).separator, s.separator) << s.given;

    o = parse({"--home", "/h", "import", "in.csv", "a.KYR"});
    EXPECT_EQ(S(o.command), "import");
    EXPECT_EQ(o.files, (QStringList{"in.csv", "a.KYR"}));
    EXPECT_EQ(S(o.home), "/h");

    o = parse({"reprice", "a.KYR", "--amount", "-5", "--keys", "M2-U1", "--ending", "9"});
    EXPECT_EQ(o.mode, CliOptions::Command);
    EXPECT_EQ(S(o.amount), "-5");
    EXPECT_TRUE(o.percent.isEmpty());
    EXPECT_EQ(S(o.keys), "M2-U1");
    EXPECT_EQ(S(o.ending), "9");
    EXPECT_EQ(S(parse({"reprice", "a.KYR", "--percent", "10"}).percent), "10");
}

TEST(CliArgs, FileCommandBadUsage)
{
    const BadCase cases[] = {
        {{"export"}, "export needs a PLU file"},
        {{"export", "a.KYR", "out.csv", "more"}, "export needs a PLU file"},
        {{"reprice", "a.KYR", "b.KYR", "--percent", "1"}, "reprice needs a PLU file"},
        {{"import", "in.csv"}, "import needs a CSV file and a PLU file"},
        {{"export", "a.KYR", "--port", "COM1"}, "--port is not used by export: it opens no port"},
        {{"--baud", "9600", "import", "in.csv", "a.KYR"}, "--baud is not used by import: it opens no port"},
        {{"import", "in.csv", "a.KYR", "--port", "COM1"}, "--port is not used by import: it opens no port"},
        {{"reprice", "a.KYR", "--percent", "1", "--baud", "9600"}, "--baud is not used by reprice: it opens no port"},
        {{"export", "a.KYR", "--percent", "3"}, "an option that export does not take"},
        {{"import", "in.csv", "a.KYR", "--separator", ","}, "an option that import does not take"},
        {{"import", "in.csv", "a.KYR", "--keys", "M1"}, "an option that import does not take"},
        {{"export", "a.KYR", "--amount", "1"}, "an option that export does not take"},
        {{"reprice", "a.KYR", "--separator", "|", "--percent", "1"}, "an option that reprice does not take"},
        {{"export", "a.KYR", "--separator", "|"}, "--separator must be , or ; or tab"},
        {{"reprice", "a.KYR"}, "reprice needs either --percent or --amount"},
        {{"reprice", "a.KYR", "--percent", "1", "--amount", "1"}, "reprice needs either --percent or --amount"},
        {{"export", "a.KYR", "--force"}, "unknown option --force"},
        {{"export", "a.KYR", "-q"}, "unknown option -q"},
        {{"reprice", "a.KYR", "--keys", "", "--percent", "1"}, "--keys needs a value"},
        {{"reprice", "a.KYR", "--percent"}, "--percent needs a value"},
        {{"reprice", "a.KYR", "--amount"}, "--amount needs a value"},
        {{"reprice", "a.KYR", "--percent", "1", "--ending"}, "--ending needs a value"},
    };
    for (const BadCase& c : cases)
        expectBadUsage(c, fileCommandUsage() + '\n');
}

TEST(CliArgs, ExitStatusOfEachOutcome)
{
    using O = CliOutcome;
    for (const auto& [outcome, status] : {std::pair{O::Succeeded, 0}, {O::ScaleCommandFailed, 1}, {O::BadUsage, 2},
                                          {O::CannotProceed, 2}, {O::Interrupted, 130}})
        EXPECT_EQ(exitStatus(outcome), status);
}

TEST(CliArgs, PortsCommand)
{
    CliOptions o = parse({"ports", "--home", "/h"});
    EXPECT_EQ(o.mode, CliOptions::Command);
    EXPECT_EQ(S(o.command), "ports");
    EXPECT_EQ(S(o.home), "/h");
    EXPECT_EQ(parse({"--home", "/h", "ports"}).mode, CliOptions::Command);
    const QString usage = "usage: varlo-manager ports [--home DIR]\n";
    for (const BadCase& c : {BadCase{{"ports", "--port", "COM1"}, "ports takes no --port"},
                             BadCase{{"ports", "extra"}, "ports takes no extra"},
                             BadCase{{"ports", "--bogus"}, "ports takes no --bogus"},
                             BadCase{{"ports", "--baud", "9600"}, "ports takes no --baud"},
                             BadCase{{"ports", "--home"}, "--home needs a value"},
                             BadCase{{"ports", "--home", ""}, "--home needs a value"}})
        expectBadUsage(c, usage);
}

TEST(CliArgs, SafetyNetsOfTheDownload)
{
    CliOptions o = parse({"download", "P.KYR", "--no-verify", "--backup"});
    EXPECT_EQ(o.mode, CliOptions::Command);
    EXPECT_EQ(o.verify, std::optional<bool>(false));
    EXPECT_TRUE(o.backup);
    EXPECT_EQ(parse({"download", "P.KYR", "--verify"}).verify, std::optional<bool>(true));
    EXPECT_FALSE(parse({"download", "P.KYR"}).verify.has_value());
    o = parse({"compare", "P.KYR", "--port", "COM2"});
    EXPECT_EQ(o.mode, CliOptions::Command);
    EXPECT_EQ(S(o.command), "compare");
    EXPECT_EQ(exitStatus(CliOutcome::Differs), 3);
    for (const BadCase& c : {BadCase{{"compare"}, "compare needs a PLU file"},
                             BadCase{{"upload", "P.KYR", "--verify"}, "--verify, --no-verify and --backup belong to download"},
                             BadCase{{"upload", "P.KYR", "--no-verify"}, "--verify, --no-verify and --backup belong to download"},
                             BadCase{{"upload", "P.KYR", "--backup"}, "--verify, --no-verify and --backup belong to download"},
                             BadCase{{"compare", "P.KYR", "--backup"}, "--verify, --no-verify and --backup belong to download"},
                             BadCase{{"report", "--no-verify"}, "--verify, --no-verify and --backup belong to download"},
                             BadCase{{"values", "--backup"}, "--verify, --no-verify and --backup belong to download"}})
        expectBadUsage(c, commandUsage() + '\n');
}
