#pragma once

#include <QString>

/// Starts command lines beside the program, minimised, without waiting for them.
class ProcessStarter
{
public:
    virtual ~ProcessStarter() = default;
    virtual void startMinimized(const QString &commandLine) = 0;
};
