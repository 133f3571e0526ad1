// ipod-dump photos ROOT [--handheld]
// ipod-dump export-photos ROOT OUTDIR [--handheld]
// Loads the photo database of the device folder ROOT (a disk-mode iPod mapped as drive E:, or
// with --handheld the file system of a simulated iPhone) and prints every photo, every album
// and a result line as JSON; export-photos selects every photo, runs the thumbnail export into
// OUTDIR and prints its log and the number of photos it handled.
#include "Commands.h"
#include "PhotoCommands.h"

#include "device/PhotoDb.h"
#include "handheld/Iphone.h"
#include "platform/Drives.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "tests/fixtures/SimLibraries.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>
#include <functional>

namespace dump {

QByteArray JsonText(const QJsonValue& value) {
    // A one-element array serialises the value exactly as QJsonDocument writes it.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray OrderedObject(const OrderedFields& fields) {
    QByteArray text = "{";
    for (const auto& [key, value] : fields) {
        if (text.size() > 1)
            text += ',';
        text += JsonText(QString::fromLatin1(key)) + ':' + value;
    }
    return text + '}';
}

void PrintOrderedLine(const OrderedFields& fields) {
    const QByteArray line = OrderedObject(fields) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
}

QByteArray FormatJson(const device::TThumbFormat& f) {
    return OrderedObject({{"id", JsonText(f.Id)},
                          {"size", JsonText(f.Size)},
                          {"width", JsonText(f.Width)},
                          {"height", JsonText(f.Height)},
                          {"filecount", JsonText(f.FileCount)}});
}

// Loads the simulated library pair beside this program and lets a device with ROOT as its
// file system arrive; false (with a message) when it does not become ready.
bool ConnectSimulatedPhone(const QString& root) {
    if (FakeUsbmuxdStarted())
        return handheld::LoadDeviceLibraries() && handheld::SubscribeDeviceNotification(0) && WaitForRealPhone();
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QString sim = QFileInfo(exe).absolutePath() + QStringLiteral("/mobiledevice-sim/new");
    static QTemporaryDir libs;
    if (!libs.isValid() || !fixtures::InstallSimulatedLibraries(sim, libs.path()) || !handheld::LoadDeviceLibraries()) {
        std::fprintf(stderr, "ipod-dump: no simulated mobile-device library in %s\n", qPrintable(sim));
        return false;
    }
    auto control = reinterpret_cast<PFN_MobileDeviceSimControl>(
        platform::GetProcAddress(handheld::IphoneState().MobileDeviceModule, "MobileDeviceSimControl"));
    if (!control)
        return false;
    control(("root " + root.toUtf8()).constData(), nullptr, 0);
    control("arrive", nullptr, 0);
    if (!handheld::SubscribeDeviceNotification(0))
        return false;
    control("wait", nullptr, 0);
    if (!handheld::IphoneReady()) {
        std::fprintf(stderr, "ipod-dump: %s\n", handheld::IphoneLastError().constData());
        return false;
    }
    return true;
}

void DisconnectSimulatedPhone() {
    handheld::CloseDevice();
    handheld::UnloadDeviceLibraries();
}

// Splits ROOT [OUTDIR] [--handheld]; ROOT made absolute. False on a bad command line.
bool ParseDeviceArgs(const QStringList& args, int positional, QStringList& values, bool& handheld) {
    handheld = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--handheld"))
            handheld = true;
        else if (a.startsWith(QLatin1String("--")) || values.size() == positional)
            return false;
        else
            values << QDir(a).absolutePath();
    }
    return values.size() == positional && QDir(values[0]).exists();
}

// Runs `body` with the device root text that the database objects take: "E:" mapped to ROOT,
// or a connected simulated phone.
int WithDevice(const QString& root, bool handheld, const std::function<int(const QByteArray&)>& body) {
    if (handheld) {
        if (!ConnectSimulatedPhone(root)) {
            DisconnectSimulatedPhone();
            return 1;
        }
        int status = 1;
        try {
            status = body(QByteArrayLiteral("iPhone"));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "ipod-dump: %s\n", e.what());
        }
        DisconnectSimulatedPhone();
        return status;
    }
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'E', root, platform::DriveRemovable, QString()}});
    try {
        return body(QByteArrayLiteral("E:"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ipod-dump: %s\n", e.what());
        return 1;
    }
}

} // namespace dump

namespace {

int Photos(const QStringList& args) {
    QStringList values;
    bool handheld = false;
    if (!dump::ParseDeviceArgs(args, 1, values, handheld)) {
        std::fprintf(stderr, "usage: ipod-dump photos ROOT [--handheld]\n");
        return 2;
    }
    return dump::WithDevice(values[0], handheld, [&](const QByteArray& root) {
        device::TPhotoDb db(root, handheld);
        const bool ok = db.Load(false);
        using dump::JsonText;
        for (int i = 0; i < db.Photos.Count(); ++i) {
            const device::TPhotoItem& p = *db.Photos.GetItem(i);
            dump::PrintOrderedLine({{"index", JsonText(i)},
                                    {"imageid", JsonText(qint64(p.ImageId))},
                                    {"fileno", JsonText(p.FileNo)},
                                    {"largeoffset", JsonText(qint64(p.LargeOffset))},
                                    {"largesize", JsonText(qint64(p.LargeSize))},
                                    {"smalloffset", JsonText(qint64(p.SmallOffset))},
                                    {"fullres", JsonText(p.FullResName)}});
        }
        for (int i = 0; i < db.Albums.Count(); ++i) {
            const device::TPhotoAlbumItem& a = *db.Albums.GetItem(i);
            QJsonArray ids;
            for (int k = 0; k < a.Count; ++k)
                ids.append(qint64(a.GetImageId(k)));
            dump::PrintOrderedLine({{"album", JsonText(a.Name)}, {"ids", JsonText(ids)}});
        }
        dump::PrintOrderedLine({{"result", JsonText(ok)},
                                {"error", JsonText(qint64(db.ErrorCode))},
                                {"hasfullres", JsonText(db.HasFullRes != 0)},
                                {"large", dump::FormatJson(db.Large)},
                                {"small", dump::FormatJson(db.Small)}});
        return 0;
    });
}

int ExportPhotos(const QStringList& args) {
    QStringList values;
    bool handheld = false;
    if (!dump::ParseDeviceArgs(args, 2, values, handheld)) {
        std::fprintf(stderr, "usage: ipod-dump export-photos ROOT OUTDIR [--handheld]\n");
        return 2;
    }
    QDir().mkpath(values[1]);
    return dump::WithDevice(values[0], handheld, [&](const QByteArray& root) {
        device::TPhotoDb db(root, handheld);
        if (!db.Load(false)) {
            dump::PrintOrderedLine({{"result", "false"}, {"error", dump::JsonText(qint64(db.ErrorCode))}});
            return 1;
        }
        for (int i = 0; i < db.Photos.Count(); ++i)
            db.Photos.GetItem(i)->Selected = 1;
        db.OutputFolder = values[1] + QLatin1Char('/');
        int handled = 0;
        db.OnProgress = [&handled] { ++handled; };
        const bool missing = db.ExportThumbs(true);
        dump::PrintOrderedLine({{"missing", dump::JsonText(missing)},
                                {"log", dump::JsonText(QString::fromUtf8(db.Log))},
                                {"count", dump::JsonText(handled)}});
        return 0;
    });
}

const dump::Registration kPhotos("photos", "photos ROOT [--handheld]", Photos);
const dump::Registration kExportPhotos("export-photos", "export-photos ROOT OUTDIR [--handheld]", ExportPhotos);

} // namespace
