#pragma once
#include "cliargs.h"

// export, import and reprice: commands on PLU files alone, which never open
// a port. A refused import or price change writes nothing.
CliOutcome runFileCommand(const CliOptions& options);
