#pragma once
#include <QString>

class ScaleCommands;
class Workbook;
struct CliOptions;
struct CommandOutcome;

// The command line of the download's safety nets and of compare:
//   varlo-manager compare FILE.KYR
//   varlo-manager download FILE.KYR [--verify | --no-verify] [--backup]
// compare prints one line per difference on stdout and ends with 3 when any
// differ; a download whose read-back differs prints them on stderr, also 3.

// Before the load: a download of a backup takes over the price mode its
// name carries (config.ini is written). Throws AppError.
void PrepareLoad(const QString& command, const QString& file, Workbook& wb);
// After the load of a compare: false (exit 2) for a file that is no PLU
// file; prices that cannot be read are named and compared as 0.
bool AcceptComparedFile(const Workbook& wb);

// The nets of the download: config.ini [Options], then the options.
void ApplySafetyArgs(const CliOptions& o, const Workbook& wb, ScaleCommands& commands);

// The exit status of a compare that ran to its end, or of a download whose
// read-back differs, with their output; -1 for every other ending.
int SafetyExitStatus(const QString& command, const CommandOutcome& outcome, const ScaleCommands& commands);
