#pragma once

#include "app/arguments.h"

#include <string>

/// Exit statuses of the command line.
enum CommandLineStatus : int {
    CommandLineOk = 0,
    /// The cut was refused or failed: nothing was written.
    CommandLineFailed = 1,
    /// The arguments were wrong.
    CommandLineUsage = 2,
};

/// Prints \a message, and how to find out how the program is used, on standard error; the status
/// for wrong arguments.
int usage(const std::string &message);

/// Cuts as \a arguments say, without a window and without Qt, and prints where the piece went;
/// the exit status.
int runCut(const Arguments &arguments);

int printHelp();
int printVersion();
