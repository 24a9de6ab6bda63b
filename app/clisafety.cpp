#include "clisafety.h"
#include "cli.h"
#include "cliargs.h"
#include "backups.h"
#include "safetyoptions.h"
#include "scalecommands.h"
#include "workbook.h"

namespace {
void err(const QString& s) { errLine(s); }
void out(const QString& s) { outLine(s); }
} // namespace

void PrepareLoad(const QString& command, const QString& file, Workbook& wb)
{
    if (command == "download")
        AdoptBackupMode(wb, file);
}

bool AcceptComparedFile(const Workbook& wb)
{
    const PluFileCheck& check = wb.LastLoadCheck;
    const QString file = "\"" + wb.CurrentFileName + "\"";
    if (!check.NotPluFile.isEmpty()) {
        err(file + " is not a PLU file: " + check.NotPluFile + ".");
        return false;
    }
    if (!check.ResetRows.isEmpty()) {
        err(QStringLiteral("%1: %2 prices cannot be read and are compared as 0:").arg(file).arg(check.ResetRows.size()));
        err(check.rowsText(PluCount));
    }
    return true;
}

void ApplySafetyArgs(const CliOptions& o, const Workbook& wb, ScaleCommands& commands)
{
    const SafetyOptions saved = SafetyOptions::Load(wb.ConfigFileName);
    commands.VerifyAfterDownload = o.verify.value_or(saved.VerifyAfterDownload);
    commands.BackupBeforeDownload = o.backup || saved.BackupBeforeDownload;
}

int SafetyExitStatus(const QString& command, const CommandOutcome& outcome, const ScaleCommands& commands)
{
    if (command == "compare" && outcome.kind == CommandOutcome::Succeeded)
        return 0;   // stdout stays empty: no line, no difference
    if (outcome.kind != CommandOutcome::Differs)
        return -1;
    // A compare's differences are its result; a download's are its failure.
    const bool failure = command != "compare";
    if (failure) {
        err(outcome.text);
        err(outcome.cause);
    }
    for (const PluDifference& d : commands.Differences)
        failure ? err(d.line()) : out(d.line());
    return 3;
}
