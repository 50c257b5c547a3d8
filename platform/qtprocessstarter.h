#pragma once

#include "platform/processstarter.h"

/// On Windows, starts the command's program from the system folder, minimised. Elsewhere
/// there is nothing to register, so nothing is started.
class QtProcessStarter : public ProcessStarter
{
public:
    void startMinimized(const QString &commandLine) override;
};
