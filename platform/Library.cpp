#include "platform/Library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QtEndian>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>

namespace platform {

namespace {
thread_local QString tLastLoadError;
QMutex gCommonLock;
QString gCommonOverride;

template <typename T>
bool ReadAt(QFile& file, qint64 offset, T& out) {
    return file.seek(offset) && file.read(reinterpret_cast<char*>(&out), sizeof out) == qint64(sizeof out);
}

// Finds the named section of a little-endian ELF file; returns its file offset and size.
template <typename Ehdr, typename Shdr>
bool FindSection(QFile& file, const char* name, quint64& offset, quint64& size) {
    Ehdr header;
    if (!ReadAt(file, 0, header) || header.e_shentsize != sizeof(Shdr) || header.e_shnum == 0 ||
        header.e_shstrndx >= header.e_shnum || header.e_shnum > 4096)
        return false;
    Shdr names;
    if (!ReadAt(file, qint64(header.e_shoff + quint64(header.e_shstrndx) * sizeof(Shdr)), names))
        return false;
    const qint64 fileSize = file.size();
    if (names.sh_offset > quint64(fileSize) || names.sh_size > quint64(fileSize) - names.sh_offset)
        return false;
    if (!file.seek(qint64(names.sh_offset)))
        return false;
    const QByteArray table = file.read(qint64(names.sh_size));
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        Shdr section;
        if (!ReadAt(file, qint64(header.e_shoff + quint64(i) * sizeof(Shdr)), section))
            return false;
        if (section.sh_name >= quint64(table.size()))
            continue;
        const char* sectionName = table.constData() + section.sh_name;
        const qsizetype room = table.size() - qsizetype(section.sh_name);
        if (qstrnlen(sectionName, room) < size_t(room) && std::strcmp(sectionName, name) == 0) {
            offset = section.sh_offset;
            size = section.sh_size;
            return true;
        }
    }
    return false;
}
} // namespace

ModuleHandle LoadLibrary(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    void* module = dlopen(QFile::encodeName(absolute).constData(), RTLD_NOW | RTLD_LOCAL);
    tLastLoadError = module ? QString() : QString::fromLocal8Bit(dlerror());
    return module;
}

void* GetProcAddress(ModuleHandle module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}

bool FreeLibrary(ModuleHandle module) {
    return module && dlclose(module) == 0;
}

QString LastLoadError() {
    return tLastLoadError;
}

std::optional<quint64> FileVersion(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    unsigned char ident[EI_NIDENT];
    if (file.read(reinterpret_cast<char*>(ident), EI_NIDENT) != EI_NIDENT || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
        ident[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    quint64 offset = 0, size = 0;
    bool found = false;
    if (ident[EI_CLASS] == ELFCLASS64)
        found = FindSection<Elf64_Ehdr, Elf64_Shdr>(file, ".mg_file_version", offset, size);
    else if (ident[EI_CLASS] == ELFCLASS32)
        found = FindSection<Elf32_Ehdr, Elf32_Shdr>(file, ".mg_file_version", offset, size);
    quint64 value = 0;
    if (!found || size != sizeof value || !ReadAt(file, qint64(offset), value))
        return std::nullopt;
    return qFromLittleEndian(value);
}

QString CommonProgramFilesFolder() {
    {
        QMutexLocker lock(&gCommonLock);
        if (!gCommonOverride.isEmpty())
            return gCommonOverride;
    }
    // The program's own folder, found without needing a QCoreApplication.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (exe.isEmpty())
        return QString();
    return QFileInfo(exe).absolutePath() + QStringLiteral("/mobiledevice");
}

void SetCommonProgramFilesFolderForTesting(const QString& folder) {
    QMutexLocker lock(&gCommonLock);
    gCommonOverride = folder;
}

} // namespace platform
