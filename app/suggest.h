#pragma once

#include "app/arguments.h"

/// Decodes the song \a arguments name and prints the stretch proposed for a ringtone, its start
/// and end in seconds (ready for --cut) and as m:ss.t, on one line; the exit status.
int runSuggest(const Arguments &arguments);
