#pragma once
// Shared objects loaded at run time by path, their entry points, and the file version that a
// library declares.
#include <QString>
#include <optional>

namespace platform {

using ModuleHandle = void*; // nullptr when not loaded

// Relative paths are taken from the current folder (not the loader's search path), so a
// bare file name means the file in the current folder. nullptr when it cannot be loaded.
ModuleHandle LoadLibrary(const QString& path);
void* GetProcAddress(ModuleHandle module, const char* name);
bool FreeLibrary(ModuleHandle module);
// The loader's text for the last failure of LoadLibrary on this thread.
QString LastLoadError();

// The fixed file version that a library declares (major << 48 | minor << 32 | build << 16 |
// private), read from its ELF section ".mg_file_version" without loading it. std::nullopt
// for a file without version information.
std::optional<quint64> FileVersion(const QString& path);

// Declares the file version of the library that uses it, e.g. MG_DECLARE_FILE_VERSION(238, 8, 0, 0).
#define MG_DECLARE_FILE_VERSION(major, minor, build, priv)                                                             \
    extern "C" __attribute__((used, section(".mg_file_version"))) const unsigned long long mg_file_version =           \
        ((unsigned long long)(major) << 48) | ((unsigned long long)(minor) << 32) |                                    \
        ((unsigned long long)(build) << 16) | (unsigned long long)(priv)

// The folder that holds our mobile-device substitutes: "mobiledevice" beside the program,
// in the build tree and in an install alike. Tests may replace it (an empty text restores it).
QString CommonProgramFilesFolder();
void SetCommonProgramFilesFolderForTesting(const QString& folder);

} // namespace platform
