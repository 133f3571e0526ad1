#pragma once
// File operations on paths that may start with a drive letter ("E:/iPod_Control/...").
#include <QFile>
#include <QString>
#include <memory>

namespace platform {

bool FileExists(const QString& path);
bool DirectoryExists(const QString& path);
bool DeleteFile(const QString& path);

// Both raise EFOpenError with the system's reason when the file cannot be opened.
std::unique_ptr<QFile> OpenReadOnly(const QString& path);
std::unique_ptr<QFile> OpenReadWrite(const QString& path);

} // namespace platform
