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

// The connection that this thread's open file (OpenFileRef) belongs to.
thread_local void* tSequenceConnection = nullptr;

// A count larger than asked is never trusted: it would read past the buffer.
quint32 Delivered(quint32 count, quint32 asked) {
    return count > asked ? asked : count;
}

// What an operation works with, copied from the record at its start.
struct Link {
    bool AfcOpen;
    void* Connection;
    QByteArray MediaRoot;
};

Link CurrentLink() {
    const TDeviceLink d = DeviceInUse();
    return {d.Connection != nullptr, d.Connection, d.MediaRoot};
}

// The library's answer to an existence test of a full path.
quint32 Find(const Link& link, const QByteArray& full) {
    void* info = nullptr;
    return link.AfcOpen ? Call(entry::AFCFileInfoOpen, link.Connection, full.constData(), &info) : NoEntryPoint;
}

// MediaRoot + Path, tested and opened for reading. On failure LastError holds "Not found" or
// openFailure followed by the library's result; a connection that is gone is no missing file.
bool OpenForReading(const Link& link, const QByteArray& Path, const char* openFailure, uint64_t& ref) {
    const QByteArray full = link.MediaRoot + Path;
    quint32 r = Find(link, full);
    if (r != 0 && r != mobiledevice::ErrNoDevice) {
        SetLastError("Not found");
        return false;
    }
    if (r == 0)
        r = Call(entry::AFCFileRefOpen, link.Connection, full.constData(), mobiledevice::OpenRead, &ref);
    if (r != 0) {
        Fail(link.Connection, openFailure, r);
        return false;
    }
    return true;
}

} // namespace

bool DeviceFileExists(const QByteArray& FullPath) {
    const Link link = CurrentLink();
    const quint32 r = Find(link, FullPath);
    NoteLostConnection(link.Connection, r);
    return r == 0;
}

bool DeviceReadFile(const QByteArray& Path, QIODevice& Stream) {
    const Link link = CurrentLink();
    uint64_t ref = 0;
    if (!OpenForReading(link, Path, "Open error: ", ref))
        return false;
    bool ok = false;
    quint32 lastFailure = 0;
    try {
        std::unique_ptr<char[]> buffer(new char[WholeFileChunkSize]());
        for (;;) {
            quint32 count = WholeFileChunkSize;
            const quint32 r =
                Call(entry::AFCFileRefRead, link.Connection, ref, static_cast<void*>(buffer.get()), &count);
            if (r != 0) {
                lastFailure = r;
                Fail(link.Connection, "Read error: ", r);
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
    Call(entry::AFCFileRefClose, link.Connection, ref);
    return ok;
}

bool DeviceWriteFile(const QByteArray& Path, QIODevice& Stream) {
    const Link link = CurrentLink();
    const QByteArray full = link.MediaRoot + Path;
    uint64_t ref = 0;
    const quint32 opened =
        Call(entry::AFCFileRefOpen, link.Connection, full.constData(), mobiledevice::OpenWriteNew, &ref);
    if (opened != 0) {
        Fail(link.Connection, "Open write error: ", opened);
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
            Call(entry::AFCFileRefWrite, link.Connection, ref, static_cast<const void*>(buffer.get()), quint32(size));
        if (r != 0)
            Fail(link.Connection, "Write error: ", r);
        else
            ok = true;
    } catch (...) {
        SetLastError("Exception: 0");
    }
    Call(entry::AFCFileRefClose, link.Connection, ref);
    return ok;
}

bool DeviceOpenFile(const QByteArray& Path) {
    const Link link = CurrentLink();
    uint64_t ref = OpenFileRef;
    if (!OpenForReading(link, Path, "Open err: ", ref))
        return false;
    OpenFileRef = ref;
    tSequenceConnection = link.Connection;
    return true;
}

bool DeviceReadAt(quint32 Count, void* Buffer, qint64 Offset, quint32* DeliveredCount) {
    if (DeliveredCount)
        *DeliveredCount = 0;
    void* const connection = tSequenceConnection;
    quint32 r = Call(entry::AFCFileRefSeek, connection, OpenFileRef, Offset, quint64(0));
    if (r != 0) {
        Fail(connection, "Seek Err: ", r);
        return false;
    }
    quint32 n = Count;
    r = Call(entry::AFCFileRefRead, connection, OpenFileRef, Buffer, &n);
    if (r != 0) {
        Fail(connection, "Read Err: ", r);
        return false;
    }
    if (DeliveredCount)
        *DeliveredCount = Delivered(n, Count);
    return true;
}

bool DeviceCloseFile() {
    return Call(entry::AFCFileRefClose, tSequenceConnection, OpenFileRef) == 0;
}

bool DeviceCopyFileBuffered(const QByteArray& DevicePath, const QString& LocalPath, char* Buffer, quint32 BufferSize,
                            qint64 ExpectedSize) {
    const Link link = CurrentLink();
    uint64_t ref = 0;
    if (!OpenForReading(link, DevicePath, "Open error: ", ref))
        return false;
    void* const connection = link.Connection;
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
            Fail(connection, "Read error: ", r);
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
