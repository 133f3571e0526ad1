#include "transfer/DestNaming.h"

#include "platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <climits>

namespace app {
namespace {

constexpr int MaxNamePartLength = 41;
// A file name's limit in bytes of the file system's encoding, and the room kept in a joined name
// for the clash number and the extension that the callers append.
constexpr qsizetype MaxNameBytes = NAME_MAX;
constexpr qsizetype NameTailBytes = 20;

using platform::TrimBlanks;

bool IsReserved(QChar c) {
    switch (c.unicode()) {
    case '"':
    case '*':
    case '.':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|': return true;
    default: return false;
    }
}

bool IsControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

qsizetype NameBytes(const QString& text) {
    return QFile::encodeName(text).size();
}

// Shortens the longest of the parts by whole characters, a surrogate pair never split, until
// the parts and their joiners take at most budget bytes.
void FitParts(std::initializer_list<QString*> parts, qsizetype joinerBytes, qsizetype budget) {
    for (;;) {
        qsizetype total = joinerBytes;
        QString* longest = nullptr;
        qsizetype longestBytes = -1;
        for (QString* part : parts) {
            const qsizetype bytes = NameBytes(*part);
            total += bytes;
            if (bytes > longestBytes) {
                longest = part;
                longestBytes = bytes;
            }
        }
        if (total <= budget || longest->isEmpty())
            return;
        qsizetype end = longest->size() - 1;
        if (end > 0 && longest->at(end).isLowSurrogate() && longest->at(end - 1).isHighSurrogate())
            --end;
        *longest = TrimBlanks(longest->left(end));
    }
}

bool MakeFolders(const QString& path) {
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}

} // namespace

QStringList NamingLayoutTexts() {
    return {QStringLiteral("Song title (Default)"),   QStringLiteral("Places files into artist and album folders"),
            QStringLiteral("Artist - title"),         QStringLiteral("Title - artist"),
            QStringLiteral("Artist - album - title"), QStringLiteral("Title - album - artist"),
            QStringLiteral("Title - artist - album")};
}

QString MakeNamePart(const QString& value, const QString& suffix) {
    QString text;
    if (value.size() > MaxNamePartLength) {
        // A cut between the halves of a surrogate pair would leave half a character.
        const bool splitsPair =
            value[MaxNamePartLength - 1].isHighSurrogate() && value[MaxNamePartLength].isLowSurrogate();
        text = TrimBlanks(value.left(MaxNamePartLength - (splitsPair ? 1 : 0)));
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
        if (IsReserved(c) || IsControl(c))
            c = QLatin1Char('_');
    return text;
}

QString WithoutControls(QString text) {
    for (QChar& c : text)
        if (IsControl(c))
            c = QLatin1Char('_');
    return text;
}

QString BuildDestPath(const QString& folder, int layout, const QString& title, const QString& artist,
                      const QString& album, QString* logEntry) {
    QString t = MakeNamePart(title, QStringLiteral(" Name"));
    QString a = MakeNamePart(artist, QStringLiteral(" Artist"));
    QString l = MakeNamePart(album, QStringLiteral(" Album"));
    const QString j = QStringLiteral(" - ");
    // Every name a layout builds fits the file system; a file name keeps room for its tail.
    const qsizetype budget = MaxNameBytes - NameTailBytes;
    const qsizetype joiners = 2 * j.size();
    switch (layout) {
    case LayoutFolders: {
        FitParts({&a}, 0, MaxNameBytes);
        FitParts({&l}, 0, MaxNameBytes);
        FitParts({&t}, 0, budget);
        const QString d = folder + a + QLatin1Char('/') + l;
        if (MakeFolders(d))
            return d + QLatin1Char('/') + t;
        if (logEntry)
            *logEntry = QStringLiteral("[X] Stopped at: ") + title +
                        QStringLiteral("\r\nReason, Cannot create artist folder:\r\n") + d;
        return {};
    }
    case LayoutArtistTitle: FitParts({&a, &t}, j.size(), budget); return folder + a + j + t;
    case LayoutTitleArtist: FitParts({&t, &a}, j.size(), budget); return folder + t + j + a;
    case LayoutArtistAlbumTitle: FitParts({&a, &l, &t}, joiners, budget); return folder + a + j + l + j + t;
    case LayoutTitleAlbumArtist: FitParts({&t, &l, &a}, joiners, budget); return folder + t + j + l + j + a;
    case LayoutTitleArtistAlbum: FitParts({&t, &a, &l}, joiners, budget); return folder + t + j + a + j + l;
    default: FitParts({&t}, 0, budget); return folder + t;
    }
}

} // namespace app
