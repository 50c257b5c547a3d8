#pragma once

#include <QtGlobal>

/// The window half of the program, in a module of its own: the command line runs without loading
/// Qt's widgets and multimedia, which take most of a bare start-up.
///
/// Name of the entry point the module exports.
#define MP3CUTTER_WINDOW_ENTRY "mp3cutterRunWindow"

/// Runs the program with its window until the window closes; the exit status.
using RunWindow = int (*)(int argc, char *argv[]);

/// The entry point itself, in the module; the program finds it by name, never by linking.
extern "C" Q_DECL_EXPORT int mp3cutterRunWindow(int argc, char *argv[]);
