// ipod-dump artwork ROOT [--handheld]
// ipod-dump export-art ROOT OUTDIR [--handheld]
// Loads the artwork database of the device folder ROOT and prints every art item and a result
// line with both formats as JSON; export-art marks every item, writes the large images as
// bitmaps into OUTDIR and prints the number written and the number of items handled.
#include "Commands.h"
#include "PhotoCommands.h"

#include "device/ArtworkDb.h"

#include <QDir>
#include <QJsonObject>
#include <cstdio>
#include <functional>

namespace {

int Artwork(const QStringList& args) {
    QStringList values;
    bool handheld = false;
    if (!dump::ParseDeviceArgs(args, 1, values, handheld)) {
        std::fprintf(stderr, "usage: ipod-dump artwork ROOT [--handheld]\n");
        return 2;
    }
    return dump::WithDevice(values[0], handheld, [&](const QByteArray& root) {
        device::TArtworkDb db(handheld ? QByteArrayLiteral("D") : root, handheld);
        const bool ok = db.Load();
        using dump::JsonText;
        for (int i = 0; i < db.Arts.Count(); ++i) {
            const device::TArtItem& a = *db.Arts.GetItem(i);
            // The 64-bit id as text: JSON numbers lose precision above 2^53.
            dump::PrintOrderedLine({{"index", JsonText(i)},
                                    {"imageid", JsonText(qint64(a.ImageId))},
                                    {"songdbid", JsonText(QString::number(a.SongDbId))},
                                    {"smallfileno", JsonText(a.SmallFileNo)},
                                    {"smalloffset", JsonText(qint64(a.SmallOffset))},
                                    {"largefileno", JsonText(a.LargeFileNo)},
                                    {"largeoffset", JsonText(qint64(a.LargeOffset))}});
        }
        dump::PrintOrderedLine({{"result", JsonText(ok)},
                                {"error", JsonText(qint64(db.ErrorCode))},
                                {"large", dump::FormatJson(db.Large)},
                                {"small", dump::FormatJson(db.Small)}});
        return 0;
    });
}

int ExportArt(const QStringList& args) {
    QStringList values;
    bool handheld = false;
    if (!dump::ParseDeviceArgs(args, 2, values, handheld)) {
        std::fprintf(stderr, "usage: ipod-dump export-art ROOT OUTDIR [--handheld]\n");
        return 2;
    }
    QDir().mkpath(values[1]);
    return dump::WithDevice(values[0], handheld, [&](const QByteArray& root) {
        device::TArtworkDb db(handheld ? QByteArrayLiteral("D") : root, handheld);
        if (!db.Load()) {
            dump::PrintOrderedLine({{"result", "false"}, {"error", dump::JsonText(qint64(db.ErrorCode))}});
            return 1;
        }
        for (int i = 0; i < db.Arts.Count(); ++i)
            db.Arts.GetItem(i)->Selected = 1;
        db.OutputFolder = values[1] + QLatin1Char('/');
        int handled = 0;
        db.OnProgress = [&handled] { ++handled; };
        const int written = db.ExportArt();
        dump::PrintOrderedLine({{"count", dump::JsonText(written)}, {"handled", dump::JsonText(handled)}});
        return 0;
    });
}

const dump::Registration kArtwork("artwork", "artwork ROOT [--handheld]", Artwork);
const dump::Registration kExportArt("export-art", "export-art ROOT OUTDIR [--handheld]", ExportArt);

} // namespace
