#include "clifiles.h"
#include "cli.h"
#include "atomicfile.h"
#include "errors.h"
#include "exedir.h"
#include "pricecsv.h"
#include "regional.h"
#include "reprice.h"
#include "workbook.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

void err(const QString& s) { errLine(s); }
void out(const QString& s) { outLine(s); }

CliOutcome usage(const QString& why)
{
    err(why);
    err(fileCommandUsage());
    return CliOutcome::BadUsage;
}

CliOutcome runExport(const CliOptions& o, Workbook& wb)
{
    const char sep = o.separator ? o.separator : DefaultCsvSeparator();
    wb.LoadPluFile(QFileInfo(o.files[0]).absoluteFilePath());
    const QByteArray csv = ExportPluCsv(wb.Table, sep);
    if (o.files.size() > 1 && o.files[1] != "-") {
        WriteFileAtomically(QFileInfo(o.files[1]).absoluteFilePath(), csv);
        return CliOutcome::Succeeded;
    }
    if (std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) != size_t(csv.size()) || std::fflush(stdout) != 0) {
        err("Cannot write the CSV to standard output.");
        return CliOutcome::CannotProceed;
    }
    return CliOutcome::Succeeded;
}

CliOutcome runImport(const CliOptions& o, Workbook& wb)
{
    const QByteArray csv = ReadCsvFile(QFileInfo(o.files[0]).absoluteFilePath());
    const QString plu = QFileInfo(o.files[1]).absoluteFilePath();
    const bool exists = QFileInfo::exists(plu);
    CheckAtomicWrite(plu);
    if (exists)
        wb.LoadPluFile(plu);
    const CsvImport in = ReadPluCsv(csv, wb);
    if (!in.ok()) {
        err(QStringLiteral("Import refused: %1 row(s) of %2 are wrong; %3 is unchanged.")
                .arg(in.Problems.size()).arg(o.files[0], o.files[1]));
        err(in.report());
        return CliOutcome::CannotProceed;
    }
    const int changed = ApplyPluCsv(in, wb);
    if (changed > 0 || !exists)
        wb.SavePluFile(plu);
    out(QStringLiteral("%1 row(s) changed.").arg(changed));
    return CliOutcome::Succeeded;
}

CliOutcome runReprice(const CliOptions& o, Workbook& wb)
{
    RepriceRequest req;
    req.By = o.percent.isEmpty() ? RepriceRequest::Amount : RepriceRequest::Percent;
    req.Value = (o.percent.isEmpty() ? o.amount : o.percent).toUtf8();
    req.Ending = o.ending.toUtf8();
    if (!o.keys.isEmpty()) {
        QString problem;
        req.Rows = ParseKeyList(o.keys.toUtf8(), &problem);
        if (req.Rows.isEmpty())
            return usage("--keys: " + problem);
    } else {
        for (int r = 1; r <= PluCount; ++r)
            req.Rows << r;
    }
    const QString plu = QFileInfo(o.files[0]).absoluteFilePath();
    wb.LoadPluFile(plu);
    const RepricePlan plan = PlanReprice(wb, req);
    if (!plan.Problem.isEmpty())
        return usage(plan.Problem);
    if (!plan.Refused.isEmpty()) {
        err(QStringLiteral("Price change refused: %1 price(s) would leave the range 0 to %2; %3 is unchanged.")
                .arg(plan.Refused.size())
                .arg(QString::fromLatin1(regional::formatGeneral(wb.Options.PriceMax)), o.files[0]));
        err(RepricePreview(wb, plan.Refused).join('\n'));
        return CliOutcome::CannotProceed;
    }
    for (const QString& line : RepricePreview(wb, plan.Changes))
        out(line);
    if (!plan.Changes.isEmpty()) {
        ApplyReprice(wb, plan);
        wb.SavePluFile(plu);
    }
    out(QStringLiteral("%1 price(s) changed.").arg(plan.Changes.size()));
    return CliOutcome::Succeeded;
}

} // namespace

CliOutcome runFileCommand(const CliOptions& o)
{
    SetExeDir(ResolveExeDir(o.home, QCoreApplication::applicationFilePath()));
    ConsoleSession session;
    Workbook wb(session.Options);
    try {
        wb.Initialise();
        return o.command == "export" ? runExport(o, wb)
            : o.command == "import"  ? runImport(o, wb)
                                     : runReprice(o, wb);
    } catch (const AppError& e) {
        err(e.fullText());
        return CliOutcome::CannotProceed;
    }
}
