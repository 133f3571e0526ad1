#include "transfer/DestNaming.h"

#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace app {
namespace {

constexpr int MaxNamePartLength = 41;

using platform::TrimBlanks;

bool IsReserved(QChar c) {
    switch (c.unicode()) {
    case '"': case '*': case '.': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        return true;
    default:
        return false;
    }
}

bool MakeFolders(const QString& path) {
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}

} // namespace

QStringList NamingLayoutTexts() {
    return {QStringLiteral("Song title (Default)"),
            QStringLiteral("Places files into artist and album folders"),
            QStringLiteral("Artist - title"),
            QStringLiteral("Title - artist"),
            QStringLiteral("Artist - album - title"),
            QStringLiteral("Title - album - artist"),
            QStringLiteral("Title - artist - album")};
}

QString MakeNamePart(const QString& value, const QString& suffix) {
    QString text;
    if (value.size() > MaxNamePartLength) {
        text = TrimBlanks(value.left(MaxNamePartLength));
    } else {
        text = TrimBlanks(value);
        if (text.isEmpty())
            return QStringLiteral("Unknown") + suffix;
    }
    // A long value made only of blanks ends up empty here; a name of nothing would make the
    // destination the folder itself, so it gets the same stand-in as a short one.
    if (text.isEmpty())
        return QStringLiteral("Unknown") + suffix;
    for (QChar& c : text)
        if (IsReserved(c))
            c = QLatin1Char('_');
    return text;
}

QString BuildDestPath(const QString& folder, int layout, const QString& title, const QString& artist,
                      const QString& album, QString* logEntry) {
    const QString t = MakeNamePart(title, QStringLiteral(" Name"));
    const QString a = MakeNamePart(artist, QStringLiteral(" Artist"));
    const QString l = MakeNamePart(album, QStringLiteral(" Album"));
    const QString j = QStringLiteral(" - ");
    switch (layout) {
    case LayoutFolders: {
        const QString d = folder + a + QLatin1Char('/') + l;
        if (MakeFolders(d))
            return d + QLatin1Char('/') + t;
        if (logEntry)
            *logEntry = QStringLiteral("[X] Stopped at: ") + title +
                        QStringLiteral("\r\nReason, Cannot create artist folder:\r\n") + d;
        return {};
    }
    case LayoutArtistTitle:
        return folder + a + j + t;
    case LayoutTitleArtist:
        return folder + t + j + a;
    case LayoutArtistAlbumTitle:
        return folder + a + j + l + j + t;
    case LayoutTitleAlbumArtist:
        return folder + t + j + l + j + a;
    case LayoutTitleArtistAlbum:
        return folder + t + j + a + j + l;
    default:
        return folder + t;
    }
}

} // namespace app
