// Files of the handheld device: existence, whole-file reads and writes, reads at offsets
// from one open file, the buffered copy to a local file and the prefs flag.
#include <QBuffer>
#include <QFile>
#include <memory>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handheld/Iphone.h"
#include "handheld/Slots.h"
#include "platform/Errors.h"
#include "platform/SafeWrite.h"

namespace handheld {

using namespace detail;

namespace {

const QByteArray kPrefsPath = "/iTunes_Control/iTunes/iTunesPrefs";
constexpr qint64 kPrefsFlagOffset = 10;

// This thread's open-read-close sequence holds one level of the link's lock from
// DeviceOpenFile to DeviceCloseFile.
thread_local bool tSequenceHeld = false;

// A count larger than asked is never trusted: it would read past the buffer.
quint32 Delivered(quint32 count, quint32 asked) {
    return count > asked ? asked : count;
}

// MediaRoot + Path, tested and opened for reading. On failure LastError holds "Not found" or
// openFailure followed by the library's result. Called with the link's lock held.
bool OpenForReading(const QByteArray& Path, const char* openFailure, uint64_t& ref) {
    const QByteArray full = IphoneMgr.MediaRoot + Path;
    if (!DeviceFileExists(full)) {
        SetLastError("Not found");
        return false;
    }
    const quint32 r =
        Call(entry::AFCFileRefOpen, IphoneMgr.AfcConnection, full.constData(), mobiledevice::OpenRead, &ref);
    if (r != 0) {
        SetLastError(openFailure + Number(r));
        return false;
    }
    return true;
}

} // namespace

void detail::ReleaseSequenceOfThisThread() {
    if (tSequenceHeld) {
        tSequenceHeld = false;
        IphoneLock().unlock();
    }
}

bool DeviceFileExists(const QByteArray& FullPath) {
    QMutexLocker link(&IphoneLock());
    if (!IphoneMgr.AfcOpen)
        return false;
    void* info = nullptr;
    return Call(entry::AFCFileInfoOpen, IphoneMgr.AfcConnection, FullPath.constData(), &info) == 0;
}

bool DeviceReadFile(const QByteArray& Path, QIODevice& Stream) {
    QMutexLocker link(&IphoneLock());
    uint64_t ref = 0;
    if (!OpenForReading(Path, "Open error: ", ref))
        return false;
    void* const connection = IphoneMgr.AfcConnection;
    bool ok = false;
    quint32 lastFailure = 0;
    try {
        std::unique_ptr<char[]> buffer(new char[WholeFileChunkSize]());
        for (;;) {
            quint32 count = WholeFileChunkSize;
            const quint32 r = Call(entry::AFCFileRefRead, connection, ref, static_cast<void*>(buffer.get()), &count);
            if (r != 0) {
                lastFailure = r;
                SetLastError("Read error: " + Number(r));
                break;
            }
            count = Delivered(count, WholeFileChunkSize);
            if (count > 0 && Stream.write(buffer.get(), count) != qint64(count))
                throw std::runtime_error("stream write");
            if (count < WholeFileChunkSize) {
                ok = true;
                break;
            }
        }
    } catch (...) {
        SetLastError("Exception: " + Number(lastFailure));
        ok = false;
    }
    Call(entry::AFCFileRefClose, connection, ref);
    return ok;
}

bool DeviceWriteFile(const QByteArray& Path, QIODevice& Stream) {
    QMutexLocker link(&IphoneLock());
    const QByteArray full = IphoneMgr.MediaRoot + Path;
    void* const connection = IphoneMgr.AfcConnection;
    uint64_t ref = 0;
    const quint32 opened = Call(entry::AFCFileRefOpen, connection, full.constData(), mobiledevice::OpenWriteNew, &ref);
    if (opened != 0) {
        SetLastError("Open write error: " + Number(opened));
        return false;
    }
    bool ok = false;
    try {
        const qint64 size = Stream.size();
        if (size < 0 || size > qint64(0xFFFFFFFFu))
            throw std::runtime_error("stream size");
        std::unique_ptr<char[]> buffer(new char[size_t(size) + 1]());
        if (!Stream.seek(0) || Stream.read(buffer.get(), size) != size)
            throw std::runtime_error("stream read");
        const quint32 r =
            Call(entry::AFCFileRefWrite, connection, ref, static_cast<const void*>(buffer.get()), quint32(size));
        if (r != 0)
            SetLastError("Write error: " + Number(r));
        else
            ok = true;
    } catch (...) {
        SetLastError("Exception: 0");
    }
    Call(entry::AFCFileRefClose, connection, ref);
    return ok;
}

bool DeviceOpenFile(const QByteArray& Path) {
    IphoneLock().lock();
    uint64_t ref = OpenFileRef;
    const bool ok = OpenForReading(Path, "Open err: ", ref);
    if (ok)
        OpenFileRef = ref;
    // On success this thread keeps one level of the lock until DeviceCloseFile.
    if (ok && !tSequenceHeld)
        tSequenceHeld = true;
    else
        IphoneLock().unlock();
    return ok;
}

bool DeviceReadAt(quint32 Count, void* Buffer, qint64 Offset, quint32* DeliveredCount) {
    if (DeliveredCount)
        *DeliveredCount = 0;
    QMutexLocker link(&IphoneLock());
    void* const connection = IphoneMgr.AfcConnection;
    quint32 r = Call(entry::AFCFileRefSeek, connection, OpenFileRef, Offset, quint64(0));
    if (r != 0) {
        SetLastError("Seek Err: " + Number(r));
        return false;
    }
    quint32 n = Count;
    r = Call(entry::AFCFileRefRead, connection, OpenFileRef, Buffer, &n);
    if (r != 0) {
        SetLastError("Read Err: " + Number(r));
        return false;
    }
    if (DeliveredCount)
        *DeliveredCount = Delivered(n, Count);
    return true;
}

bool DeviceCloseFile() {
    bool ok;
    {
        QMutexLocker link(&IphoneLock());
        ok = Call(entry::AFCFileRefClose, IphoneMgr.AfcConnection, OpenFileRef) == 0;
    }
    if (tSequenceHeld) {
        tSequenceHeld = false;
        IphoneLock().unlock();
    }
    return ok;
}

bool DeviceCopyFileBuffered(const QByteArray& DevicePath, const QString& LocalPath, char* Buffer, quint32 BufferSize,
                            qint64 ExpectedSize) {
    QMutexLocker link(&IphoneLock());
    uint64_t ref = 0;
    if (!OpenForReading(DevicePath, "Open error: ", ref))
        return false;
    void* const connection = IphoneMgr.AfcConnection;
    struct CloseRef {
        void* connection;
        uint64_t ref;
        ~CloseRef() { Call(entry::AFCFileRefClose, connection, ref); }
    } closeRef{connection, ref};

    // Written straight to the descriptor, so that a full disk shows at the write that hit it
    // with the system's own reason.
    const QByteArray local = QFile::encodeName(LocalPath);
    const int fd = ::open(local.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw platform::EFOpenError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(LocalPath, platform::LastErrorText()));

    bool ok = false;
    quint64 total = 0;
    quint32 count = BufferSize;
    while (count > 0) {
        const quint32 r = Call(entry::AFCFileRefRead, connection, ref, static_cast<void*>(Buffer), &count);
        if (r != 0) {
            SetLastError("Read error: " + Number(r));
            break;
        }
        count = Delivered(count, BufferSize);
        if (count > 0 && !platform::WriteAll(fd, Buffer, count)) {
            SetLastError("Write error: " + platform::LastErrorText().toUtf8());
            break;
        }
        total += count;
        if (count < BufferSize) {
            ok = true;
            break;
        }
    }
    if (ok && ExpectedSize >= 0 && total < quint64(ExpectedSize)) {
        SetLastError("Read error: the file ended before its size");
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        SetLastError("Write error: " + platform::LastErrorText().toUtf8());
        ok = false;
    }
    // A partial copy must not stay under the name of a finished one. Only a regular file is
    // removed: a device node or a link named as the destination is never deleted.
    struct stat st;
    if (!ok && ::lstat(local.constData(), &st) == 0 && S_ISREG(st.st_mode))
        QFile::remove(LocalPath);
    return ok;
}

bool DeviceCopyFile(const QByteArray& DevicePath, const QByteArray& LocalPath) {
    quint32 size = CopyBufferSize;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer) {
        size = FallbackCopyBufferSize;
        buffer.reset(new (std::nothrow) char[size]);
        if (!buffer)
            throw platform::Error(QStringLiteral("Out of memory"));
    }
    return DeviceCopyFileBuffered(DevicePath, QString::fromUtf8(LocalPath), buffer.get(), size);
}

bool ClearDevicePrefsFlag() {
    // One read-modify-write: no other operation of the link runs in between.
    QMutexLocker link(&IphoneLock());
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    if (!DeviceReadFile(kPrefsPath, stream))
        return false;
    char value = 0;
    if (!stream.seek(kPrefsFlagOffset) || !stream.getChar(&value))
        value = 0;
    if (value != 1)
        return true;
    stream.seek(kPrefsFlagOffset);
    stream.putChar(0);
    return DeviceWriteFile(kPrefsPath, stream);
}

} // namespace handheld
