// ipod-dump copy ROOT OUTDIR [--layout N] [--had-files] [--list-only] [--photos] [--art]
//                            [--handheld [--fake-usbmuxd]] [--itunes FILE]
// Ticks every track (and every photo, every artwork when asked), runs one transfer through the
// copy thread with a headless panel, and prints the transfer log and a summary line as JSON.
// Exits 1 when any ticked item was not written for a reason other than being present already,
// or the iTunes stage failed, so that scripts can tell (the codes are in CopyUsage).
// Music goes to OUTDIR/, photos to OUTDIR/Pictures/; album art only passes through the
// transfer's own temporary folder.
// With --handheld, ROOT is the handheld's file system, served by the simulated device library,
// or with --fake-usbmuxd by the real libimobiledevice binding and a usbmuxd stand-in.
// With --itunes, the transfer adds to a scripted iTunes whose library FILE describes (see
// CopyUsage); its final library and the calls it received are printed before the summary.
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
#include "tests/doubles/itunes/ScriptedITunes.h"
#include "tests/fixtures/SimLibraries.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>
#include <memory>
#include <unordered_map>

namespace {

constexpr const char* CopyUsage =
    "copy ROOT OUTDIR [--layout N] [--had-files] [--list-only] [--photos] [--art] [--handheld [--fake-usbmuxd]]\n"
    "      [--itunes FILE]\n"
    "      Exit status: 0 when every ticked track and photo was written or found present (with\n"
    "      --list-only: the music list was saved); 1 when one was not (missing, unreadable, a write\n"
    "      error, a stage stopped, the transfer failed), the track database did not load whole (the\n"
    "      tracks read are copied all the same), the iTunes stage failed, or nothing could\n"
    "      start (no device, an output folder that cannot be made, a bad --itunes FILE); 2 for wrong\n"
    "      arguments (a --layout N outside 0 to 6 too).\n"
    "      --fake-usbmuxd: reach the handheld through the real libimobiledevice binding, which talks to a\n"
    "      usbmuxd stand-in started here on a private socket with ROOT as one trusted device.\n"
    "      --itunes FILE: add the copied tracks and the playlists to a scripted iTunes whose starting\n"
    "      library FILE holds, as JSON:\n"
    "        {\"tracks\": [{\"name\", \"rating\", \"played\", \"artwork\" (images held), \"location\"}],\n"
    "         \"playlists\": [{\"name\", \"kind\" (1 library, 2 user; default 2), \"special\" (default 0),\n"
    "                        \"smart\" (default false), \"tracks\": [track names]}],\n"
    "         \"addpolls\": polls for which each add stays in progress (default 0),\n"
    "         \"version\": the version text,\n"
    "         \"failures\": [{\"op\", \"call\" (the n-th call of op, 0 or absent: every call),\n"
    "                       \"message\": fail with it | \"none\": answer no object | \"cancel\": true,\n"
    "                       press Cancel once the call is made}]}\n"
    "      A library without a kind 1 playlist gets \"Library\" first; it holds every track. An added file\n"
    "      whose location the library holds gives that track; a new one is named after the file.\n"
    "      Operations: Initialize, Uninitialize, CreateApplication, Sleep, LibraryPlaylist, LibrarySource,\n"
    "      CreatePlaylist, Version, Quit, AddFile, InProgress, AddedTracks, TrackCount, TrackItem,\n"
    "      TrackByName, SetRating, SetPlayedCount, Artwork, ArtworkCount, AddArtworkFromFile, Playlists,\n"
    "      PlaylistCount, PlaylistItem, Kind, Name, Tracks, Smart, SpecialKind. Their args: the playlist or\n"
    "      track by name (a track collection by its playlist's name, or \"added\"), then what was passed.\n"
    "      Output after the log: {\"itunes\": {\"tracks\": [{\"name\", \"rating\", \"played\", \"artwork\"}],\n"
    "      \"playlists\": [{\"name\", \"kind\", \"special\", \"smart\", \"tracks\": [names in order]}]}}, then one\n"
    "      line {\"call\": op, \"args\": [...]} per call in order, then the summary line.";

struct Options {
    QString Root;
    QString Out;
    int Layout = 0;
    bool HadFiles = false;
    bool ListOnly = false;
    bool Photos = false;
    bool Art = false;
    bool Handheld = false;
    bool FakeUsbmuxd = false;
    QString ITunes;
};

bool ParseArgs(QStringList args, Options& o) {
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--layout")) {
            bool ok = false;
            o.Layout = args.isEmpty() ? -1 : args.takeFirst().toInt(&ok);
            // The transfer takes an unknown layout for the first; asked for, it is a mistake.
            if (!ok || o.Layout < 0 || o.Layout > 6) {
                std::fprintf(stderr, "ipod-dump: --layout takes a number from 0 to 6\n");
                return false;
            }
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
        } else if (a == QLatin1String("--fake-usbmuxd")) {
            o.FakeUsbmuxd = true;
        } else if (a == QLatin1String("--itunes")) {
            if (args.isEmpty())
                return false;
            o.ITunes = args.takeFirst();
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
    return !o.Root.isEmpty() && !o.Out.isEmpty() && (o.Handheld || !o.FakeUsbmuxd);
}

// The simulated device library serving ROOT as a connected handheld.
class SimHandheld {
public:
    bool Start(const QString& root) {
        if (dump::FakeUsbmuxdStarted()) {
            Handle = platform::RegisterWindow(&Window);
            return handheld::LoadDeviceLibraries() && handheld::SubscribeDeviceNotification(Handle) &&
                   dump::WaitForRealPhone();
        }
        const QString sim = QCoreApplication::applicationDirPath() + QStringLiteral("/mobiledevice-sim/new");
        if (!Libs.isValid() || !fixtures::InstallSimulatedLibraries(sim, Libs.path()))
            return Fail("the simulated device library is missing");
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
    }

private:
    static bool Fail(const char* why) {
        std::fprintf(stderr, "ipod-dump: %s\n", why);
        return false;
    }
    QTemporaryDir Libs;
    QObject Window;
    platform::WindowHandle Handle = 0;
};

QString WithSlash(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

int Copy(const QStringList& args) {
    Options o;
    if (!ParseArgs(args, o)) {
        std::fprintf(stderr, "usage: ipod-dump %s\n", CopyUsage);
        return 2;
    }
    const QString root = QDir(o.Root).absolutePath();
    const QString out = WithSlash(QDir(o.Out).absolutePath());
    if (!QDir(root).exists()) {
        std::fprintf(stderr, "ipod-dump: no folder %s\n", qPrintable(root));
        return 1;
    }
    doubles::ScriptedITunes itunes;
    if (!o.ITunes.isEmpty()) {
        QFile file(o.ITunes);
        QJsonParseError error{};
        const QJsonDocument doc =
            file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll(), &error) : QJsonDocument();
        const QString problem = !doc.isObject() ? QStringLiteral("no JSON object (%1)").arg(error.errorString())
                                                : itunes.Load(doc.object());
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "ipod-dump: %s: %s\n", qPrintable(o.ITunes), qPrintable(problem));
            return 1;
        }
    }
    std::unique_ptr<SimHandheld> link;
    QByteArray driveRoot = "E:";
    if (o.Handheld) {
        if (o.FakeUsbmuxd && !dump::StartFakeUsbmuxd(root))
            return 1;
        link = std::make_unique<SimHandheld>();
        if (!link->Start(root))
            return 1;
        driveRoot = "D";
    } else {
        platform::SetDriveTableForTesting(
            std::vector<platform::Drive>{{'C', QStringLiteral("/"), platform::DriveFixed, QString()},
                                         {'E', root, platform::DriveRemovable, QString()}});
    }

    // Loads and copies keep to the phone connected now, whatever arrives later.
    const handheld::TDeviceLink phone = o.Handheld ? handheld::ReadyDevice() : handheld::TDeviceLink();
    const handheld::TUseDevice onPhone(phone);
    device::TiTunesDB tracks(driveRoot, o.Handheld);
    std::unique_ptr<device::TPhotoDb> photos;
    std::unique_ptr<device::TArtworkDb> art;
    // A track database that did not load whole leaves tracks uncopied that no tick can name.
    bool tracksIncomplete = false;
    try {
        if (!tracks.Load()) {
            std::fprintf(stderr, "ipod-dump: track database error %d\n", tracks.ErrorCode);
            tracksIncomplete = true;
        }
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

    // What the output page's Start does for the thread: folder states, folders, ticks, hand-over.
    const QString pictures = out + QStringLiteral("Pictures/");
    const bool musicHad =
        o.HadFiles || !QDir(out).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const bool photoHad =
        o.HadFiles || !QDir(pictures).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const auto& [folder, text] :
         {std::pair{out, "Can not create the folder to save the music."},
          std::pair{photos ? pictures : QString(), "Can not create the folder to save the photos."}}) {
        if (!folder.isEmpty() && !QDir().mkpath(folder)) {
            std::fprintf(stderr, "ipod-dump: %s\n%s\n", text, qPrintable(folder));
            return 1;
        }
    }
    tracks.OutputFolder = out;
    tracks.NamingScheme = o.Layout;
    for (int i = 0; i < tracks.Tracks.Count(); ++i)
        tracks.Tracks.GetItem(i).Selected = 1;
    int photoCount = 0;
    if (photos) {
        photos->OutputFolder = pictures;
        for (int i = 0; i < photos->Photos.Count(); ++i)
            photos->Photos.GetItem(i)->Selected = 1;
        photoCount = photos->Photos.Count();
    }
    int artCount = 0;
    if (art) {
        for (int i = 0; i < art->Arts.Count(); ++i)
            art->Arts.GetItem(i)->Selected = 1;
        artCount = art->Arts.Count();
        // Each track with art gets the first artwork item of its song, as the window links them.
        std::unordered_map<uint64_t, int> firstArt;
        for (int i = 0; i < artCount; ++i)
            firstArt.emplace(art->Arts.GetItem(i)->SongDbId, i);
        for (int i = 0; i < tracks.Tracks.Count(); ++i) {
            device::TTrackItem& t = tracks.Tracks.GetItem(i);
            const auto it = t.HasArtwork ? firstArt.find(t.DbId) : firstArt.end();
            if (it != firstArt.end())
                t.ArtIndex = it->second;
        }
    }

    app::THeadlessCopyDisplay display;
    display.CheckedPhotos = photoCount;
    if (photos)
        photos->OnProgress = [&display] { display.OnCopyProgress(); };
    if (art)
        art->OnProgress = [&display] { display.OnArtCopyProgress(); };
    QJsonObject summary;
    bool failed = false;
    display.OnEnded = [&] {
        const app::TCopyThread& t = *display.Thread;
        // A present file counts among the copied ones; anything else short of the count failed,
        // and so did an iTunes stage that ended in its error block.
        failed =
            t.FStopped || !t.FFailure.isEmpty() ||
            (o.ListOnly ? !t.FListSaved : t.FMusicCopied < t.FMusicCount || t.FPhotosFailed > 0 || t.FITunesFailed);
        summary = QJsonObject{{QStringLiteral("music"), t.FMusicCopied},
                              {QStringLiteral("musiccount"), t.FMusicCount},
                              {QStringLiteral("photos"), t.FPhotoCount - t.FPhotosFailed},
                              {QStringLiteral("photocount"), t.FPhotoCount},
                              {QStringLiteral("listsaved"), t.FListSaved}};
    };
    app::DetailLog.Clear();
    // The bar's range as the output page's Start sets it.
    display.SetProgress(0, tracks.Tracks.Count() >= 1 ? tracks.Tracks.Count() : photoCount);
    // The thread reaches the iTunes stage only after a blocking call into this thread, which
    // comes after Thread is set.
    itunes.OnCancel = [&display] { display.Thread->Terminate(); };
    display.Thread = new app::TCopyThread({tracks.Tracks.Count(), photoCount, artCount, o.Handheld, !o.ITunes.isEmpty(),
                                           o.ListOnly, o.Art, musicHad, photoHad},
                                          {&tracks, photos.get(), art.get(), &display, &itunes, phone});
    display.WaitForEnd();

    QByteArray log = app::DetailLog.Text().toUtf8();
    log.replace("\r\n", "\n");
    std::fwrite(log.constData(), 1, size_t(log.size()), stdout);
    std::fputc('\n', stdout);
    if (!o.ITunes.isEmpty()) {
        dump::PrintJson({{QStringLiteral("itunes"), itunes.LibraryJson()}});
        for (const auto& call : itunes.Calls)
            dump::PrintJson(doubles::ScriptedITunes::CallJson(call));
    }
    summary.insert(QStringLiteral("title"), display.StageTitle);
    summary.insert(QStringLiteral("item"), display.ItemText);
    // What the exporters' progress handlers counted.
    summary.insert(QStringLiteral("artdone"), int(display.ArtDone()));
    summary.insert(QStringLiteral("photosdone"), int(display.PhotosDone()));
    summary.insert(QStringLiteral("position"), display.Position);
    summary.insert(QStringLiteral("maximum"), display.Maximum);
    dump::PrintJson(summary);
    return failed || tracksIncomplete ? 1 : 0;
}

const dump::Registration kCopy("copy", CopyUsage, Copy);

} // namespace
