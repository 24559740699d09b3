#pragma once

#include "cli/CliOptions.h"
#include "cli/CliPort.h"

// The short commands: each opens the port, asks the identity and then only what it was asked,
// never the window's connect sequence (which would switch the output off). Each returns the
// program's exit status.

int RunPorts(const CCliOptions& options);
int RunIdentify(const CCliPort& port);
int RunSet(const CCliOptions& options, const CCliPort& port);
int RunRead(const CCliOptions& options, const CCliPort& port);
