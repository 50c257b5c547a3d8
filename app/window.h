#pragma once

/// The window half of the program, in a module of its own: the command line runs without loading
/// any Qt library, and the program loads the module only when a window is wanted.
///
/// Name of the entry point the module exports.
#define MP3CUTTER_WINDOW_ENTRY "mp3cutterRunWindow"

/// Runs the program with its window until the window closes; the exit status. \a argv holds the
/// program's name and, where one was given, the song to open.
using RunWindow = int (*)(int argc, char *argv[]);

/// The entry point itself, in the module; the program finds it by name, never by linking.
extern "C" __attribute__((visibility("default"))) int mp3cutterRunWindow(int argc, char *argv[]);
