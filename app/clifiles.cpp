#include "clifiles.h"
#include "atomicfile.h"
#include "codepage.h"
#include "errors.h"
#include "exedir.h"
#include "inioptions.h"
#include "pricecsv.h"
#include "qtdialogs.h"
#include "regional.h"
#include "reprice.h"
#include "workbook.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

const char FileCommandsUsage[] =
    "       varlo-manager export FILE.KYR [OUT.csv] [--separator ,|;|tab]\n"
    "       varlo-manager import IN.csv FILE.KYR\n"
    "       varlo-manager reprice FILE.KYR --percent N | --amount X [--keys M1,U3-U20] [--ending 9]\n"
    "                     [--home DIR]";

namespace {

const QStringList Words{"export", "import", "reprice"};
const QStringList ValueOptions{"--home", "--separator", "--percent", "--amount", "--keys", "--ending",
                               "--port", "--baud"};

void err(const QString& s) { std::fprintf(stderr, "%s\n", s.toLocal8Bit().constData()); }
void out(const QString& s) { std::fprintf(stdout, "%s\n", s.toLocal8Bit().constData()); }

struct FileArgs {
    QString Command;
    QStringList Files;
    QHash<QString, QString> Options;
};

int usage(const QString& why)
{
    err(why);
    err(QStringLiteral("usage:") + QString::fromLatin1(FileCommandsUsage).mid(6));
    return 2;
}

// Empty when the arguments are good, else the reason.
QString parse(const QStringList& args, FileArgs* a)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& s = args[i];
        if (ValueOptions.contains(s)) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return s + " needs a value";
            if (s == "--port" || s == "--baud")
                return s + " is not used by " + a->Command + ": it opens no port";
            a->Options.insert(s, args[++i]);
        } else if (s.startsWith('-') && s != "-") {
            return "unknown option " + s;
        } else if (a->Command.isEmpty()) {
            a->Command = s;
        } else {
            a->Files << s;
        }
    }
    const int wanted = a->Command == "import" ? 2 : 1;
    const int most = a->Command == "export" ? 2 : wanted;
    if (a->Files.size() < wanted || a->Files.size() > most)
        return a->Command + (a->Command == "import" ? " needs a CSV file and a PLU file" : " needs a PLU file");
    const bool exportOnly = a->Options.contains("--separator");
    const bool repriceOnly = a->Options.contains("--percent") || a->Options.contains("--amount")
        || a->Options.contains("--keys") || a->Options.contains("--ending");
    if ((exportOnly && a->Command != "export") || (repriceOnly && a->Command != "reprice"))
        return "an option that " + a->Command + " does not take";
    if (a->Command == "reprice" && a->Options.contains("--percent") == a->Options.contains("--amount"))
        return "reprice needs either --percent or --amount";
    return {};
}

int runExport(const FileArgs& a, Workbook& wb)
{
    char sep = DefaultCsvSeparator();
    if (a.Options.contains("--separator")) {
        const QString s = a.Options.value("--separator");
        if (s != "," && s != ";" && s != "tab" && s != "\t")
            return usage("--separator must be , or ; or tab");
        sep = s == "," ? ',' : s == ";" ? ';' : '\t';
    }
    wb.LoadPluFile(QFileInfo(a.Files[0]).absoluteFilePath());
    const QByteArray csv = ExportPluCsv(wb.Table, sep);
    if (a.Files.size() > 1 && a.Files[1] != "-") {
        WriteFileAtomically(QFileInfo(a.Files[1]).absoluteFilePath(), csv);
        return 0;
    }
    if (std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) != size_t(csv.size()) || std::fflush(stdout) != 0) {
        err("Cannot write the CSV to standard output.");
        return 2;
    }
    return 0;
}

int runImport(const FileArgs& a, Workbook& wb)
{
    const QByteArray csv = ReadCsvFile(QFileInfo(a.Files[0]).absoluteFilePath());
    const QString plu = QFileInfo(a.Files[1]).absoluteFilePath();
    const bool exists = QFileInfo::exists(plu);
    CheckAtomicWrite(plu);
    if (exists)
        wb.LoadPluFile(plu);
    const CsvImport in = ReadPluCsv(csv, wb);
    if (!in.ok()) {
        err(QStringLiteral("Import refused: %1 row(s) of %2 are wrong; %3 is unchanged.")
                .arg(in.Problems.size()).arg(a.Files[0], a.Files[1]));
        err(in.report());
        return 2;
    }
    const int changed = ApplyPluCsv(in, wb);
    if (changed > 0 || !exists)
        wb.SavePluFile(plu);
    out(QStringLiteral("%1 row(s) changed.").arg(changed));
    return 0;
}

int runReprice(const FileArgs& a, Workbook& wb)
{
    RepriceRequest req;
    req.By = a.Options.contains("--percent") ? RepriceRequest::Percent : RepriceRequest::Amount;
    req.Value = a.Options.value(req.By == RepriceRequest::Percent ? "--percent" : "--amount").toUtf8();
    req.Ending = a.Options.value("--ending").toUtf8();
    if (a.Options.contains("--keys")) {
        QString problem;
        req.Rows = ParseKeyList(a.Options.value("--keys").toUtf8(), &problem);
        if (req.Rows.isEmpty())
            return usage("--keys: " + problem);
    } else {
        for (int r = 1; r <= PluCount; ++r)
            req.Rows << r;
    }
    const QString plu = QFileInfo(a.Files[0]).absoluteFilePath();
    wb.LoadPluFile(plu);
    const RepricePlan plan = PlanReprice(wb, req);
    if (!plan.Problem.isEmpty())
        return usage(plan.Problem);
    if (!plan.Refused.isEmpty()) {
        err(QStringLiteral("Price change refused: %1 price(s) would leave the range 0 to %2; %3 is unchanged.")
                .arg(plan.Refused.size())
                .arg(QString::fromLatin1(regional::formatGeneral(wb.Options.PriceMax)), a.Files[0]));
        err(RepricePreview(wb, plan.Refused).join('\n'));
        return 2;
    }
    for (const QString& line : RepricePreview(wb, plan.Changes))
        out(line);
    if (!plan.Changes.isEmpty()) {
        ApplyReprice(wb, plan);
        wb.SavePluFile(plu);
    }
    out(QStringLiteral("%1 price(s) changed.").arg(plan.Changes.size()));
    return 0;
}

} // namespace

bool IsFileCommand(const QStringList& args)
{
    for (int i = 1; i < args.size(); ++i) {
        if (ValueOptions.contains(args[i]))
            ++i;
        else if (!args[i].startsWith('-') || args[i] == "-")
            return Words.contains(args[i]);
    }
    return false;
}

int RunFileCommand(const QStringList& args)
{
    FileArgs a;
    const QString bad = parse(args, &a);
    if (!bad.isEmpty())
        return usage(bad);
    if (const QByteArray refused = cp::refusedName(); !refused.isEmpty())
        err("varlo-manager: code page \"" + QString::fromLatin1(refused)
            + "\" is unknown or not 8-bit text; ISO-8859-1 is used instead");
    SetExeDir(ResolveExeDir(a.Options.value("--home"), QCoreApplication::applicationFilePath()));
    ConsoleDialogs consoleDialogs;
    setDialogs(&consoleDialogs);
    TIniOptions options;
    IniOptions = &options;
    Workbook wb(options);
    int status = 2;
    try {
        wb.Initialise();
        status = a.Command == "export" ? runExport(a, wb)
            : a.Command == "import"    ? runImport(a, wb)
                                       : runReprice(a, wb);
    } catch (const AppError& e) {
        err(e.fullText());
        status = 2;
    }
    setDialogs(nullptr);
    IniOptions = nullptr;
    return status;
}
