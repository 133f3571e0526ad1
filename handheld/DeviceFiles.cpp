// Files of the handheld device: existence, whole-file reads and writes, reads at offsets
// from one open file, the buffered copy to a local file and the prefs flag.
#include <QBuffer>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "handheld/Iphone.h"
#include "handheld/Slots.h"
#include "platform/Errors.h"
#include "platform/FileSample.h"
#include "platform/SafeWrite.h"

namespace handheld {

using namespace detail;

namespace {

const QByteArray kPrefsPath = "/iTunes_Control/iTunes/iTunesPrefs";
const QByteArray kNoSize = "Read error: the device gave no size";
const QByteArray kEndedBeforeSize = "Read error: the file ended before its size";
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

// The size in a file's information: "st_size" in plain decimal digits, else -1. The pairs
// read are bounded, whatever the library answers.
qint64 SizeOf(void* info) {
    for (int pair = 0; pair < 256; ++pair) {
        const char* key = nullptr;
        const char* value = nullptr;
        if (Call(entry::AFCKeyValueRead, info, &key, &value) != 0 || !key || !value)
            break;
        if (std::strcmp(key, "st_size") != 0)
            continue;
        const QByteArray digits(value);
        const bool plain =
            !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        bool ok = false;
        const qint64 size = digits.toLongLong(&ok);
        return plain && ok ? size : -1;
    }
    return -1;
}

// The library's answer to an existence test of a full path. With `size` given, it receives the
// size that the file's information holds (-1 when none).
quint32 Find(const Link& link, const QByteArray& full, qint64* size = nullptr) {
    if (!link.AfcOpen)
        return NoEntryPoint;
    void* info = nullptr;
    const quint32 r = Call(entry::AFCFileInfoOpen, link.Connection, full.constData(), size ? &info : nullptr);
    if (size) {
        *size = r == 0 && info ? SizeOf(info) : -1;
        if (r == 0 && info)
            Call(entry::AFCKeyValueClose, info);
    }
    return r;
}

// MediaRoot + Path, tested and opened for reading. On failure LastError holds "Not found" or
// openFailure followed by the library's result; a connection that is gone is no missing file.
// With `size` given, it receives the file's size as its information gives it (-1 when none).
bool OpenForReading(const Link& link, const QByteArray& Path, const char* openFailure, uint64_t& ref,
                    qint64* size = nullptr) {
    const QByteArray full = link.MediaRoot + Path;
    quint32 r = Find(link, full, size);
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

bool DeviceFileSize(const QByteArray& Path, qint64& Size) {
    const Link link = CurrentLink();
    const quint32 r = Find(link, link.MediaRoot + Path, &Size);
    if (r == mobiledevice::ErrNoDevice) {
        Fail(link.Connection, "Open error: ", r);
        return false;
    }
    if (r != 0) {
        SetLastError("Not found");
        return false;
    }
    if (Size < 0)
        SetLastError(kNoSize);
    return Size >= 0;
}

bool DeviceFileSample(const QByteArray& Path, qint64 Size, QByteArray& Sample) {
    const Link link = CurrentLink();
    uint64_t ref = 0;
    if (!OpenForReading(link, Path, "Open error: ", ref))
        return false;
    const auto ranges = platform::SampleRanges(Size);
    Sample.resize(ranges[0].Length + ranges[1].Length);
    bool ok = true;
    qint64 at = 0;
    for (const platform::TByteRange& range : ranges) {
        if (range.Length == 0)
            continue;
        quint32 r = Call(entry::AFCFileRefSeek, link.Connection, ref, range.Offset, quint64(0));
        if (r != 0) {
            Fail(link.Connection, "Seek Err: ", r);
            ok = false;
            break;
        }
        // The library may deliver less than asked; nothing more, before the range is read, is
        // the end of a file that shrank.
        for (qint64 done = 0; ok && done < range.Length;) {
            const quint32 asked = quint32(range.Length - done);
            quint32 count = asked;
            r = Call(entry::AFCFileRefRead, link.Connection, ref, static_cast<void*>(Sample.data() + at), &count);
            if (r != 0) {
                Fail(link.Connection, "Read Err: ", r);
                ok = false;
            } else if ((count = Delivered(count, asked)) == 0) {
                SetLastError(kEndedBeforeSize);
                ok = false;
            }
            done += count;
            at += count;
        }
        if (!ok)
            break;
    }
    Call(entry::AFCFileRefClose, link.Connection, ref);
    return ok;
}

bool DeviceCopyFileBuffered(const QByteArray& DevicePath, const QString& LocalPath, char* Buffer, quint32 BufferSize) {
    const Link link = CurrentLink();
    uint64_t ref = 0;
    qint64 size = -1;
    if (!OpenForReading(link, DevicePath, "Open error: ", ref, &size))
        return false;
    void* const connection = link.Connection;
    struct CloseRef {
        void* connection;
        uint64_t ref;
        ~CloseRef() { Call(entry::AFCFileRefClose, connection, ref); }
    } closeRef{connection, ref};
    if (size < 0) {
        SetLastError(kNoSize);
        return false;
    }

    // Written straight to the descriptor, so that a full disk shows at the write that hit it
    // with the system's own reason.
    const QByteArray local = QFile::encodeName(LocalPath);
    const int fd = ::open(local.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw platform::EFOpenError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(LocalPath, platform::LastErrorText()));

    // Read to the file's real end: a read that delivers less than the buffer ends it once the
    // size is reached, one that delivers nothing ends it anywhere. A copy of another length
    // than the size is never kept, and no more is read once it is longer.
    bool ok = false;
    quint64 total = 0;
    for (;;) {
        quint32 count = BufferSize;
        const quint32 r = Call(entry::AFCFileRefRead, connection, ref, static_cast<void*>(Buffer), &count);
        if (r != 0) {
            Fail(connection, "Read error: ", r);
            break;
        }
        count = Delivered(count, BufferSize);
        total += count;
        if (total > quint64(size)) {
            SetLastError("Read error: the file is longer than its size");
            break;
        }
        if (count > 0 && !platform::WriteAll(fd, Buffer, count)) {
            SetLastError("Write error: " + platform::LastErrorText().toUtf8());
            break;
        }
        if (count == 0 || (count < BufferSize && total == quint64(size))) {
            ok = total == quint64(size);
            if (!ok)
                SetLastError(kEndedBeforeSize);
            break;
        }
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
