#include "transfer/MusicList.h"

#include "transfer/CopyThread.h"
#include "transfer/TrackCopy.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/SafeWrite.h"

namespace app {
namespace {

// The document is written by hand: the Qt writer leaves apostrophes and quotes in text as they
// are, and the file's readers expect all five entities.
class PlistWriter {
public:
    void Raw(const char* text) { Out += text; }
    void Key(const char* key) { Element("key", QString::fromLatin1(key)); }
    void Key(const QString& key) { Element("key", key); }
    void String(const QString& value) { Element("string", value); }
    void Integer(qint64 value) {
        Out += "<integer>";
        Out += QByteArray::number(value);
        Out += "</integer>";
    }
    void Element(const char* name, const QString& text) {
        if (text.isEmpty()) {
            Out += '<';
            Out += name;
            Out += "/>";
            return;
        }
        Out += '<';
        Out += name;
        Out += '>';
        Out += XmlEscape(text);
        Out += "</";
        Out += name;
        Out += '>';
    }
    QByteArray Out;
};

} // namespace

QByteArray XmlEscape(const QString& text) {
    // A character that XML 1.0 does not allow (most controls, a lone surrogate, U+FFFE and
    // U+FFFF) would make the whole file unreadable: it is left out.
    QString allowed;
    allowed.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            allowed += text[i];
            allowed += text[++i];
        } else if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)) {
            allowed += text[i];
        }
    }
    QByteArray out;
    const QByteArray utf8 = allowed.toUtf8();
    out.reserve(utf8.size());
    for (char c : utf8) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\'': out += "&apos;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

QString DiskTrackLocation(const QByteArray& root, const QString& location) {
    const QString path = SlashedLocation(location);
    const QString onDrive = QString::fromUtf8(root) + path;
    const QString native = platform::ResolvePath(onDrive);
    if (native.isEmpty())
        return QStringLiteral("file://localhost/") + onDrive;
    return QStringLiteral("file://localhost") + (native.startsWith(u'/') ? native : u'/' + native);
}

void TCopyThread::WriteMusicList() {
    device::TiTunesDB& db = *Src.TrackDb;
    PlistWriter w;
    w.Raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>");
    w.Key("Tracks");
    w.Raw(db.Tracks.Count() ? "<dict>" : "<dict/>");
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        if (Terminated())
            return;
        const device::TTrackItem& t = db.Tracks.GetItem(i);
        w.Key(QString::number(t.TrackId));
        w.Raw("<dict>");
        w.Key("Track ID");
        w.Integer(t.TrackId);
        w.Key("Name");
        w.String(t.Title);
        w.Key("Artist");
        w.String(t.Artist);
        w.Key("Album");
        w.String(t.Album);
        if (t.Rating > 0) {
            w.Key("Rating");
            w.Integer(t.Rating);
        }
        if (t.PlayCount > 0) {
            w.Key("Play Count");
            w.Integer(t.PlayCount);
        }
        w.Key("Location");
        if (!FHandheldMode) {
            w.String(DiskTrackLocation(db.Root, t.Location));
        } else {
            const QString dest = BuildDestPath(i);
            const QString ext = FileExtension(t.Location);
            w.String(dest.isEmpty() ? QStringLiteral("file://localhost/") + ext
                                    : QStringLiteral("file://localhost") + dest + ext);
        }
        w.Raw("</dict>");
    }
    if (db.Tracks.Count())
        w.Raw("</dict>");
    w.Key("Playlists");
    w.Raw(db.Playlists.Count() ? "<array>" : "<array/>");
    for (int p = 0; p < db.Playlists.Count(); ++p) {
        if (Terminated())
            return;
        const device::TPlayListItem& list = db.Playlists.GetItem(p);
        w.Raw("<dict>");
        w.Key("Name");
        w.String(list.Name);
        if (p == 0) {
            w.Key("Master");
            w.Raw("<true/>");
            w.Key("Visible");
            w.Raw("<false/>");
        }
        w.Key("All Items");
        w.Raw("<true/>");
        w.Key("Playlist Items");
        if (list.TrackIds.empty()) {
            w.Raw("<array/>");
        } else {
            w.Raw("<array>");
            for (uint32_t id : list.TrackIds) {
                w.Raw("<dict>");
                w.Key("Track ID");
                w.Integer(id);
                w.Raw("</dict>");
            }
            w.Raw("</array>");
        }
        w.Raw("</dict>");
    }
    if (db.Playlists.Count())
        w.Raw("</array>");
    w.Raw("</dict></plist>");

    const QString path = db.OutputFolder + QLatin1String(MusicListName);
    if (!platform::WriteFileSafely(path, w.Out, true))
        throw platform::EFOpenError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, platform::LastErrorText()));
    FListSaved = true;
}

} // namespace app
