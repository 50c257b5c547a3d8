#pragma once

/// Exit statuses of the command line.
enum CommandLineStatus : int {
    CommandLineOk = 0,
    /// The cut was refused or failed: nothing was written.
    CommandLineFailed = 1,
    /// The arguments were wrong.
    CommandLineUsage = 2,
};

/// Whether these arguments ask for the command line rather than the window.
bool wantsCommandLine(int argc, char *argv[]);

/// Runs the command line: cuts without a window, or prints help or the version.
int runCommandLine(int argc, char *argv[]);
