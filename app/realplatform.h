#pragma once

#include "app/platform.h"

/// The platform the program runs on: Qt's players, dialogs, message boxes and files.
Platform realPlatform();
