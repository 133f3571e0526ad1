// ipod-dump copy ROOT OUTDIR [--layout N] [--had-files] [--list-only] [--photos] [--art]
//                            [--handheld]
// Ticks every track (and every photo, every artwork when asked), runs one transfer through the
// copy thread with a headless panel, and prints the transfer log and a summary line as JSON.
// Music goes to OUTDIR/, photos to OUTDIR/Pictures/, album art to OUTDIR/Artworks/.
// With --handheld, ROOT is the handheld's file system, served by the simulated device library.
#include "Commands.h"

#include "transfer/CopyThread.h"
#include "transfer/HeadlessCopyDisplay.h"
#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "platform/Drives.h"
#include "platform/Library.h"
#include "platform/PostMessage.h"
#include "platform/mobiledevice/MobileDeviceApi.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

struct Options {
    QString Root;
    QString Out;
    int Layout = 0;
    bool HadFiles = false;
    bool ListOnly = false;
    bool Photos = false;
    bool Art = false;
    bool Handheld = false;
};

bool ParseArgs(QStringList args, Options& o) {
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--layout")) {
            bool ok = false;
            o.Layout = args.isEmpty() ? -1 : args.takeFirst().toInt(&ok);
            if (!ok)
                return false;
        } else if (a == QLatin1String("--had-files")) {
            o.HadFiles = true;
        } else if (a == QLatin1String("--list-only")) {
            o.ListOnly = true;
        } else if (a == QLatin1String("--photos")) {
            o.Photos = true;
        } else if (a == QLatin1String("--art")) {
            o.Art = true;
        } else if (a == QLatin1String("--handheld")) {
            o.Handheld = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return false;
        } else if (o.Root.isEmpty()) {
            o.Root = a;
        } else if (o.Out.isEmpty()) {
            o.Out = a;
        } else {
            return false;
        }
    }
    return !o.Root.isEmpty() && !o.Out.isEmpty();
}

// The simulated device library serving ROOT as a connected handheld.
class SimHandheld {
public:
    bool Start(const QString& root) {
        const QString sim = QCoreApplication::applicationDirPath() + QStringLiteral("/mobiledevice-sim/new/");
        if (!Libs.isValid() ||
            !QFile::copy(sim + QStringLiteral("iTunesMobileDevice.dll"), Libs.filePath(QStringLiteral("iTunesMobileDevice.dll"))) ||
            !QFile::copy(sim + QStringLiteral("CoreFoundation.dll"), Libs.filePath(QStringLiteral("CoreFoundation.dll"))))
            return Fail("the simulated device library is missing");
        OldCwd = QDir::currentPath();
        QDir::setCurrent(Libs.path());
        if (!handheld::LoadDeviceLibraries())
            return Fail("the device library did not load");
        auto control = reinterpret_cast<PFN_MobileDeviceSimControl>(
            platform::GetProcAddress(handheld::IphoneState().MobileDeviceModule, "MobileDeviceSimControl"));
        if (!control)
            return Fail("the device library is not the simulated one");
        control(("root " + QFile::encodeName(root)).constData(), nullptr, 0);
        Handle = platform::RegisterWindow(&Window);
        if (!handheld::SubscribeDeviceNotification(Handle))
            return Fail("no device notifications");
        control("arrive", nullptr, 0);
        control("wait", nullptr, 0);
        QCoreApplication::processEvents();
        if (!handheld::IphoneReady())
            return Fail(handheld::IphoneLastError().constData());
        return true;
    }
    ~SimHandheld() {
        handheld::UnloadDeviceLibraries();
        if (Handle)
            platform::UnregisterWindow(Handle);
        if (!OldCwd.isEmpty())
            QDir::setCurrent(OldCwd);
    }

private:
    static bool Fail(const char* why) {
        std::fprintf(stderr, "ipod-dump: %s\n", why);
        return false;
    }
    QTemporaryDir Libs;
    QString OldCwd;
    QObject Window;
    platform::WindowHandle Handle = 0;
};

QString WithSlash(const QString& path) { return path.endsWith(u'/') ? path : path + u'/'; }

int Copy(const QStringList& args) {
    Options o;
    if (!ParseArgs(args, o)) {
        std::fprintf(stderr, "usage: ipod-dump copy ROOT OUTDIR [--layout N] [--had-files] [--list-only] [--photos] "
                             "[--art] [--handheld]\n");
        return 2;
    }
    const QString root = QDir(o.Root).absolutePath();
    const QString out = WithSlash(QDir(o.Out).absolutePath());
    if (!QDir(root).exists()) {
        std::fprintf(stderr, "ipod-dump: no folder %s\n", qPrintable(root));
        return 1;
    }
    std::unique_ptr<SimHandheld> link;
    QByteArray driveRoot = "E:";
    if (o.Handheld) {
        link = std::make_unique<SimHandheld>();
        if (!link->Start(root))
            return 1;
        driveRoot = "D";
        // The track database reads the handheld's files through the link.
        device::SetHandheldFileReader([](const QByteArray& path, QByteArray& bytes) {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            return handheld::DeviceReadFile(path, buffer);
        });
    } else {
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{
            {'C', QStringLiteral("/"), platform::DriveFixed, QString()},
            {'E', root, platform::DriveRemovable, QString()}});
    }

    device::TiTunesDB tracks(driveRoot, o.Handheld);
    std::unique_ptr<device::TPhotoDb> photos;
    std::unique_ptr<device::TArtworkDb> art;
    try {
        if (!tracks.Load())
            std::fprintf(stderr, "ipod-dump: track database error %d\n", tracks.ErrorCode);
        if (o.Photos) {
            photos = std::make_unique<device::TPhotoDb>(driveRoot, o.Handheld);
            if (!photos->Load())
                std::fprintf(stderr, "ipod-dump: photo database error %u\n", photos->ErrorCode);
        }
        if (o.Art) {
            art = std::make_unique<device::TArtworkDb>(driveRoot, o.Handheld);
            if (!art->Load())
                std::fprintf(stderr, "ipod-dump: artwork database error %u\n", art->ErrorCode);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ipod-dump: %s\n", e.what());
        return 1;
    }

    // What the output page's Start does for the thread: folders, ticks, hand-over.
    const QString pictures = out + QStringLiteral("Pictures/");
    QDir().mkpath(out);
    const bool musicHad = o.HadFiles || !QDir(out).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const bool photoHad = o.HadFiles || !QDir(pictures).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    tracks.OutputFolder = out;
    tracks.NamingScheme = o.Layout;
    for (int i = 0; i < tracks.Tracks.Count(); ++i)
        tracks.Tracks.GetItem(i).Selected = 1;
    int photoCount = 0;
    if (photos) {
        QDir().mkpath(pictures);
        photos->OutputFolder = pictures;
        for (int i = 0; i < photos->Photos.Count(); ++i)
            photos->Photos.GetItem(i)->Selected = 1;
        photoCount = photos->Photos.Count();
    }
    int artCount = 0;
    if (art) {
        art->OutputFolder = out + QStringLiteral("Artworks/");
        QDir().mkpath(art->OutputFolder);
        for (int i = 0; i < art->Arts.Count(); ++i)
            art->Arts.GetItem(i)->Selected = 1;
        artCount = art->Arts.Count();
    }

    app::THeadlessCopyDisplay display;
    display.CheckedPhotos = photoCount;
    if (photos)
        photos->OnProgress = [&display] { display.OnCopyProgress(); };
    if (art)
        art->OnProgress = [&display] { display.OnArtCopyProgress(); };
    QJsonObject summary;
    display.OnEnded = [&] {
        const app::TCopyThread& t = *display.Thread;
        summary = QJsonObject{{QStringLiteral("music"), t.FMusicCopied},
                              {QStringLiteral("musiccount"), t.FMusicCount},
                              {QStringLiteral("photos"), t.FPhotoCount - t.FPhotosFailed},
                              {QStringLiteral("photocount"), t.FPhotoCount},
                              {QStringLiteral("listsaved"), t.FListSaved}};
    };
    app::DetailLog.Clear();
    // The bar's range as the output page's Start sets it.
    display.SetProgress(0, tracks.Tracks.Count() >= 1 ? tracks.Tracks.Count() : photoCount);
    display.Thread = new app::TCopyThread({tracks.Tracks.Count(), photoCount, artCount, o.Handheld, false, o.ListOnly,
                                           o.Art, musicHad, photoHad}, {&tracks, photos.get(), art.get(), &display});
    display.WaitForEnd();

    QByteArray log = app::DetailLog.Text().toUtf8();
    log.replace("\r\n", "\n");
    std::fwrite(log.constData(), 1, size_t(log.size()), stdout);
    std::fputc('\n', stdout);
    summary.insert(QStringLiteral("title"), display.StageTitle);
    summary.insert(QStringLiteral("item"), display.ItemText);
    // What the exporters' progress handlers counted.
    summary.insert(QStringLiteral("artdone"), int(display.ArtDone()));
    summary.insert(QStringLiteral("photosdone"), int(display.PhotosDone()));
    summary.insert(QStringLiteral("position"), display.Position);
    summary.insert(QStringLiteral("maximum"), display.Maximum);
    dump::PrintJson(summary);
    return 0;
}

const dump::Registration kCopy("copy",
                               "copy ROOT OUTDIR [--layout N] [--had-files] [--list-only] [--photos] [--art] [--handheld]",
                               Copy);

} // namespace
