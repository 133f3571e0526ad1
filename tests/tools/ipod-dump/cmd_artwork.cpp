// ipod-dump artwork ROOT [--handheld]
// ipod-dump export-art ROOT OUTDIR [--handheld]
// Loads the artwork database of the device folder ROOT and prints every art item and a result
// line with both formats as JSON; export-art marks every item, writes the large images as
// bitmaps into OUTDIR and prints the number written and the number of items handled.
#include "Commands.h"

#include "device/ArtworkDb.h"

#include <QDir>
#include <QJsonObject>
#include <cstdio>
#include <functional>

namespace dump {
QJsonObject FormatJson(const device::TThumbFormat& f);
bool ParseDeviceArgs(const QStringList& args, int positional, QStringList& values, bool& handheld);
int WithDevice(const QString& root, bool handheld, const std::function<int(const QByteArray&)>& body);
} // namespace dump

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
        for (int i = 0; i < db.Arts.Count(); ++i) {
            const device::TArtItem& a = *db.Arts.GetItem(i);
            dump::PrintJson(QJsonObject{{QStringLiteral("index"), i},
                                        {QStringLiteral("imageid"), qint64(a.ImageId)},
                                        {QStringLiteral("songdbid"), QString::number(a.SongDbId)},
                                        {QStringLiteral("smallfileno"), a.SmallFileNo},
                                        {QStringLiteral("smalloffset"), qint64(a.SmallOffset)},
                                        {QStringLiteral("largefileno"), a.LargeFileNo},
                                        {QStringLiteral("largeoffset"), qint64(a.LargeOffset)}});
        }
        dump::PrintJson(QJsonObject{{QStringLiteral("result"), ok},
                                    {QStringLiteral("error"), qint64(db.ErrorCode)},
                                    {QStringLiteral("large"), dump::FormatJson(db.Large)},
                                    {QStringLiteral("small"), dump::FormatJson(db.Small)}});
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
            dump::PrintJson(QJsonObject{{QStringLiteral("result"), false}, {QStringLiteral("error"), qint64(db.ErrorCode)}});
            return 1;
        }
        for (int i = 0; i < db.Arts.Count(); ++i)
            db.Arts.GetItem(i)->Selected = 1;
        db.OutputFolder = values[1] + QLatin1Char('/');
        int handled = 0;
        db.OnProgress = [&handled] { ++handled; };
        const int written = db.ExportArt();
        dump::PrintJson(QJsonObject{{QStringLiteral("count"), written}, {QStringLiteral("handled"), handled}});
        return 0;
    });
}

const dump::Registration kArtwork("artwork", "artwork ROOT [--handheld]", Artwork);
const dump::Registration kExportArt("export-art", "export-art ROOT OUTDIR [--handheld]", ExportArt);

} // namespace
