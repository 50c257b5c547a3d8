#pragma once

#include "platform/filesystem.h"

class QtFileSystem : public FileSystem
{
public:
    std::optional<qint64> length(const QString &path) override;
    bool isFolder(const QString &path) override;
    bool isNormalFile(const QString &path) override;
    bool exists(const QString &path) override;
    std::unique_ptr<QIODevice> openRead(const QString &path) override;
    std::unique_ptr<QIODevice> openWrite(const QString &path) override;
    MoveResult rename(const QString &from, const QString &to) override;
    bool remove(const QString &path) override;
};
