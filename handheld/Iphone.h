#pragma once
// The iPhone / iPod touch link: loads the mobile-device library pair, follows device arrival
// and removal, connects, and reads and writes the device's files.
//
// Threads: the library calls DeviceNotificationCallback on a thread of its own, while the
// window and the copy thread use the device's files. The link holds no lock across a call
// into the library: the record is written and read under a short lock of its own, each
// operation works on a copy of the connection and media root taken at its start, and a
// notification never waits for a file operation nor one device for another. The library may
// still answer for a connection that a new arrival replaced meanwhile: it tells such calls
// apart by their reference. Each thread has its own open file (DeviceOpenFile to
// DeviceCloseFile), so two open-read-close sequences never share a reference. Unloading
// waits until no call is inside the library. WM_IPHONE_NOTIFY is posted when the record is
// complete. A call that finds a device's connection gone (the device removed or no longer
// answering) drops that device, clears Ready when it was the latest arrival, and posts
// WM_IPHONE_NOTIFY, so the window learns of the lost connection at once. Read the record through
// IphoneState()/IphoneReady()/IphoneLastError(). A device operation that failed also leaves its own text in
// DeviceLastError() on the thread that called it, safe from a later failure on another thread.
//
// Several devices may be attached. The record describes the latest arrival; every device that
// connected keeps its own connection until it leaves. Work that began on one device (a database
// load, a transfer, a preview copy, thumbnails) keeps to it through TUseDevice, whatever arrives
// or leaves meanwhile.
#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QtGlobal>
#include <vector>

#include "platform/Library.h"
#include "platform/PostMessage.h"

namespace handheld {

constexpr quint32 WM_IPHONE_NOTIFY = 0x863; // WM_USER + 0x463

constexpr quint32 WholeFileChunkSize = 0x300000;     // 3 MiB
constexpr quint32 CopyBufferSize = 0x800000;         // 8 MiB
constexpr quint32 FallbackCopyBufferSize = 0x100000; // 1 MiB

// One connected device as its arrival left it; Arrival 0 is none.
struct TDeviceLink {
    quint64 Arrival = 0;
    void* Device = nullptr;
    void* Connection = nullptr;
    QByteArray MediaRoot;
    explicit operator bool() const { return Arrival != 0; }
};

struct TIphoneMgr {
    bool NewLibrary = false;
    platform::ModuleHandle MobileDeviceModule = nullptr;
    platform::ModuleHandle CoreFoundationModule = nullptr;
    bool Ready = false;
    bool Connected = false;
    bool AfcOpen = false;
    bool FullAccess = false;
    void* Device = nullptr;
    void* AfcConnection = nullptr;
    QByteArray MediaRoot;
    QByteArray LastError;
    // The number of the latest arrival, counted from 1 whether its connect succeeded or not,
    // and of the latest one that failed.
    quint64 Arrival = 0;
    quint64 FailedArrival = 0;
    // The devices connected and not gone since (removed, or their connection lost). Ready
    // holds while the latest arrival is among them.
    std::vector<TDeviceLink> Links;
};

// The link's one state record. Written only under the record's lock; read it through the
// copies below.
extern TIphoneMgr IphoneMgr;
// The 64-bit file reference of the file that DeviceOpenFile opened on the calling thread.
extern thread_local quint64 OpenFileRef;

// Copies taken under the lock.
TIphoneMgr IphoneState();
bool IphoneReady();
QByteArray IphoneLastError();
QByteArray IphoneMediaRoot();
// The failure text of the last device operation that failed on the calling thread.
QByteArray DeviceLastError();
// The latest arrival's device while Ready, else none.
TDeviceLink ReadyDevice();
// The device is still attached and its connection has not been lost.
bool DevicePresent(const TDeviceLink& Link);

// While it lives, the device operations of the calling thread go to Link's device (and fail
// once it has gone) instead of the latest arrival's. An empty link leaves them as they were.
class TUseDevice {
public:
    explicit TUseDevice(const TDeviceLink& Link);
    ~TUseDevice();
    TUseDevice(const TUseDevice&) = delete;
    TUseDevice& operator=(const TUseDevice&) = delete;

private:
    const TDeviceLink* FPrevious;
    TDeviceLink FLink;
};

// The inline constant-string object of the older library generation.
using TCFString = QByteArray;

// Library loading.
bool LoadDeviceLibraries();
bool LocateDeviceLibraries(QString& MobileDevicePath, QString& CoreFoundationPath);
QByteArray ReadMachineRegString(const QByteArray& Key,
                                const QByteArray& Name); // throws platform::Error on a non-string value
const void* MakeCFStringConst(const QByteArray& Text);
void MakeCFStringInline(const QByteArray& Text, TCFString& Obj);
void UnloadDeviceLibraries();

// Notification and connection.
bool SubscribeDeviceNotification(platform::WindowHandle Window);
void DeviceNotificationCallback(const void* Info, void* Cookie);
bool ConnectDevice(void* Device);
bool EndDeviceSession(void* Device);
bool CloseDevice();

// Device file operations. Paths are 8-bit, "/"-separated and relative to the media root,
// except DeviceFileExists, which takes a full path.
bool DeviceFileExists(const QByteArray& FullPath);
// Appends the whole file to Stream at its position (a QBuffer opened for writing).
bool DeviceReadFile(const QByteArray& Path, QIODevice& Stream);
// Writes Stream's whole content from its start; Stream is left at its end.
bool DeviceWriteFile(const QByteArray& Path, QIODevice& Stream);
bool DeviceOpenFile(const QByteArray& Path);
// Short reads (near or past the end of the file) still return true; the bytes of Buffer
// beyond those delivered keep their former content. When Delivered is given it receives the
// number of bytes read (0 on failure), so that a caller can tell a short read.
bool DeviceReadAt(quint32 Count, void* Buffer, qint64 Offset, quint32* Delivered = nullptr);
bool DeviceCloseFile();
// The size of a file as the device's file service gives it (never a database's).
bool DeviceFileSize(const QByteArray& Path, qint64& Size);
// The first and last 64 KiB (platform/FileSample.h) of a file taken as Size bytes long, read
// within it through a reference of its own; false when a read fails or the file ends first.
bool DeviceFileSample(const QByteArray& Path, qint64 Size, QByteArray& Sample);
// Copies a device file into LocalPath (created or emptied), reading it to its real end. The
// copy is kept only with the size that the file's information gives: a file that ends before
// it (it shrank) or runs past it fails as a read error, and so does a file without a size. On
// a failed device read or a short local write the partial local file is removed. A local file
// that cannot be created raises platform::EFOpenError. A failed local write gives the system's
// text.
bool DeviceCopyFileBuffered(const QByteArray& DevicePath, const QString& LocalPath, char* Buffer, quint32 BufferSize);
// The same with a buffer of its own (8 MiB, or 1 MiB when that cannot be had; a failure of
// both raises platform::Error).
bool DeviceCopyFile(const QByteArray& DevicePath, const QByteArray& LocalPath);
bool ClearDevicePrefsFlag();

} // namespace handheld
