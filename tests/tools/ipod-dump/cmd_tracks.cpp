// ipod-dump tracks ROOT [--cdb] [--summary] [--handheld [--fake-usbmuxd]]
// Maps the folder ROOT as a removable drive, finds it with the locator and loads its track
// database; prints each track, each playlist and a closing result line as JSON.
// --handheld serves ROOT as the file system of a simulated iPhone instead (its databases
// under var/mobile/Media) and loads through the handheld link, as the window does.
// --fake-usbmuxd reaches it through the real libimobiledevice binding and a usbmuxd stand-in.
#include "Commands.h"

#include "device/IPod.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <exception>
#include <map>
#include <vector>

namespace {

struct Options {
    QString Root;
    bool Cdb = false;
    bool Summary = false;
    bool Handheld = false;
    bool FakeUsbmuxd = false;
};

// Flags by name; a new option is one more row.
const std::map<QString, bool Options::*> kFlags = {
    {QStringLiteral("--cdb"), &Options::Cdb},
    {QStringLiteral("--summary"), &Options::Summary},
    {QStringLiteral("--handheld"), &Options::Handheld},
    {QStringLiteral("--fake-usbmuxd"), &Options::FakeUsbmuxd},
};

bool ParseArgs(const QStringList& args, Options& o) {
    for (const QString& a : args) {
        if (a.startsWith(QLatin1String("--"))) {
            const auto flag = kFlags.find(a);
            if (flag == kFlags.end())
                return false;
            o.*(flag->second) = true;
        } else if (o.Root.isEmpty()) {
            o.Root = a;
        } else {
            return false;
        }
    }
    return !o.Root.isEmpty();
}

using Fields = std::vector<std::pair<const char*, QJsonValue>>;

// One JSON object per line with its keys in the given order (QJsonObject would sort them).
void PrintOrdered(const Fields& fields) {
    QByteArray line = "{";
    for (const auto& [key, value] : fields) {
        if (line.size() > 1)
            line += ',';
        // A one-element array serialises the value exactly as QJsonDocument writes it.
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        line += '"' + QByteArray(key) + "\":" + array.mid(1, array.size() - 2);
    }
    line += "}\n";
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
}

Fields TrackJson(int index, const device::TTrackItem& t) {
    return Fields{
        {"index", index},
        {"id", qint64(t.TrackId)},
        {"title", t.Title},
        {"artist", t.Artist},
        {"album", t.Album},
        {"genre", t.Genre},
        {"kind", t.KindText},
        {"location", t.Location},
        {"size", qint64(t.Size)},
        {"length", qint64(t.Length)},
        {"rating", int(t.Rating)},
        {"playcount", qint64(t.PlayCount)},
        {"mediatype", qint64(t.MediaType)},
        {"hasartwork", t.HasArtwork != 0},
        {"dbid", QString::number(t.DbId)},
        {"video", t.IsVideo()},
    };
}

// Loads the track database and prints it.
int Load(const Options& o, const QByteArray& root, bool handheld) {
    device::TiTunesDB db(root, handheld);
    bool ok = false;
    try {
        ok = db.Load();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ipod-dump: %s\n", e.what());
        return 1;
    }
    if (!o.Summary) {
        for (int i = 0; i < db.Tracks.Count(); ++i)
            PrintOrdered(TrackJson(i, db.Tracks.GetItem(i)));
        for (int i = 0; i < db.Playlists.Count(); ++i) {
            const device::TPlayListItem& p = db.Playlists.GetItem(i);
            QJsonArray ids;
            for (int k = 0; k < p.Count; ++k)
                ids.append(qint64(p.GetTrackId(k)));
            PrintOrdered({{"playlist", p.Name}, {"smart", p.Smart != 0}, {"ids", ids}});
        }
    }
    // "damaged": the load ended early at damaged data and kept what it had read; "readerror":
    // why the device failed a read ("" when it did not), what was read before being kept too.
    PrintOrdered({{"result", ok},
                  {"error", db.ErrorCode},
                  {"damaged", db.Damaged()},
                  {"readerror", db.ReadError},
                  {"tracks", db.Tracks.Count()},
                  {"playlists", db.Playlists.Count()},
                  {"totaltime", qint64(db.TotalTime)},
                  {"totalsize", qint64(db.TotalSize)}});
    return 0;
}

int Tracks(const QStringList& args) {
    Options o;
    if (!ParseArgs(args, o) || (o.FakeUsbmuxd && !o.Handheld)) {
        std::fprintf(stderr, "usage: ipod-dump tracks ROOT [--cdb] [--summary] [--handheld [--fake-usbmuxd]]\n");
        return 2;
    }
    const QString root = QDir(o.Root).absolutePath();
    if (!QDir(root).exists()) {
        std::fprintf(stderr, "ipod-dump: no folder %s\n", qPrintable(root));
        return 1;
    }
    if (o.FakeUsbmuxd && !dump::StartFakeUsbmuxd(root))
        return 1;
    if (o.Handheld) {
        const int status = dump::ConnectSimulatedPhone(root) ? Load(o, QByteArrayLiteral("iPhone"), true) : 1;
        dump::DisconnectSimulatedPhone();
        return status;
    }
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'E', root, platform::DriveRemovable, QString()}});

    device::TIPod pod;
    const int32_t probe = pod.Find(true, 'A', false);
    if (probe == device::prNone) {
        std::fprintf(stderr, "ipod-dump: no iPod_Control/iTunes folder under %s\n", qPrintable(root));
        return 1;
    }
    if (o.Cdb) {
        // The handheld's files, "/iTunes_Control/iTunes/iTunesCDB" and the like, come from the
        // same places under iPod_Control/.
        device::SetHandheldFileReader([root](const QByteArray& path, QByteArray& out, QString&) {
            if (!path.startsWith("/iTunes_Control/"))
                return false;
            QFile f(root + QStringLiteral("/iPod_Control/") + QString::fromUtf8(path.mid(16)));
            if (!f.open(QIODevice::ReadOnly))
                return false;
            out = f.readAll();
            return true;
        });
    }

    return Load(o, pod.Root, o.Cdb);
}

const dump::Registration kTracks("tracks", "tracks ROOT [--cdb] [--summary] [--handheld [--fake-usbmuxd]]", Tracks);

} // namespace
