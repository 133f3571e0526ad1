#include "platform/Drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <map>

namespace platform {
namespace {

QMutex gMutex;
std::optional<std::vector<Drive>> gTestTable;
std::optional<QByteArray> gTestMountInfo;
// Letters handed out to mounted volumes, kept for as long as the volume stays mounted.
std::map<QString, char> gLetters;

QByteArray ReadSmallFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(1 << 20);
}

// mountinfo escapes blanks and a few other characters as \ooo.
QString Unescape(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int v = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(v));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QString::fromUtf8(out);
}

bool SysfsSaysRemovable(const QString& devNumber) {
    const QString link = QStringLiteral("/sys/dev/block/") + devNumber;
    const QString canonical = QFileInfo(link).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    if (canonical.contains(QLatin1String("/usb")))
        return true;
    // A partition's flag lives on its parent disk.
    for (const QString& dir : {canonical, canonical + QStringLiteral("/..")}) {
        if (ReadSmallFile(dir + QStringLiteral("/removable")).trimmed() == "1")
            return true;
    }
    return false;
}

// Only a whole volume of a block device counts: a bind mount of a folder (which may be on the
// system disk) and a virtual file system such as tmpfs are not drives.
bool IsWholeBlockVolume(const MountRow& row) {
    return row.Root == QLatin1String("/") && row.Source.startsWith(QLatin1String("/dev/"));
}

DriveType Classify(const MountRow& row) {
    if (row.MountPoint == QLatin1String("/"))
        return DriveFixed;
    if (!IsWholeBlockVolume(row))
        return DriveUnknown;
    if (row.FsType == QLatin1String("iso9660") || row.FsType == QLatin1String("udf") ||
        row.Source.startsWith(QLatin1String("/dev/sr")))
        return DriveCdRom;
    if (SysfsSaysRemovable(row.DevNumber))
        return DriveRemovable;
    if (row.MountPoint.startsWith(QLatin1String("/media/")) || row.MountPoint.startsWith(QLatin1String("/run/media/")))
        return DriveRemovable;
    return DriveUnknown;
}

std::vector<Drive> TableFromMountInfo(const QByteArray& text) {
    const std::vector<MountRow> rows = ParseMountInfo(text);
    std::vector<Drive> found;
    std::map<QString, char> kept;
    std::vector<std::pair<QString, Drive>> fresh;
    Drive root{'C', QStringLiteral("/"), DriveFixed, QString()};
    found.push_back(root);
    for (const MountRow& row : rows) {
        if (row.MountPoint == QLatin1String("/"))
            continue;
        const DriveType type = Classify(row);
        if (type != DriveRemovable && type != DriveCdRom)
            continue;
        const QString key = row.DevNumber + QLatin1Char(' ') + row.MountPoint;
        Drive d{0, row.MountPoint, type, row.Source};
        auto it = gLetters.find(key);
        if (it != gLetters.end() && !kept.count(key)) {
            d.Letter = it->second;
            kept[key] = it->second;
            found.push_back(d);
        } else if (!kept.count(key)) {
            fresh.emplace_back(key, d);
        }
    }
    // New volumes take the lowest free letters from D:, in the order the mount table lists them.
    for (auto& [key, d] : fresh) {
        char letter = 0;
        for (char c = 'D'; c <= 'Z'; ++c) {
            bool used = false;
            for (const auto& [k, l] : kept)
                if (l == c)
                    used = true;
            if (!used) {
                letter = c;
                break;
            }
        }
        if (!letter)
            break; // more volumes than letters: the rest stay out of sight
        d.Letter = letter;
        kept[key] = letter;
        found.push_back(d);
    }
    gLetters = std::move(kept);
    return found;
}

std::vector<Drive> CurrentTable() {
    if (gTestTable)
        return *gTestTable;
    const QByteArray file = qgetenv("MARROWGATE_DRIVES");
    if (!file.isEmpty())
        return ParseDriveFile(ReadSmallFile(QString::fromLocal8Bit(file)));
    return TableFromMountInfo(ReadSmallFile(QStringLiteral("/proc/self/mountinfo")));
}

int LetterIndex(QChar c) {
    const char l = char(c.toUpper().toLatin1());
    return (l >= 'A' && l <= 'Z') ? l - 'A' : -1;
}

} // namespace

std::vector<MountRow> ParseMountInfo(const QByteArray& text) {
    std::vector<MountRow> rows;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        const qsizetype dash = f.indexOf(QByteArray("-"));
        if (f.size() < 5 || dash < 6 || dash + 2 >= f.size())
            continue;
        rows.push_back({Unescape(f[4]), Unescape(f[dash + 2]), QString::fromUtf8(f[dash + 1]), QString::fromUtf8(f[2]),
                        Unescape(f[3])});
    }
    return rows;
}

std::vector<Drive> ParseDriveFile(const QByteArray& text) {
    std::vector<Drive> drives;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // "E: /some folder/with blanks removable": letter first, type last, the path between.
        const qsizetype first = line.indexOf(' ');
        const qsizetype last = line.lastIndexOf(' ');
        if (first < 0 || last <= first || line.size() < 2 || line[1] != ':')
            continue;
        const int index = LetterIndex(QChar::fromLatin1(line[0]));
        if (index < 0)
            continue;
        const QByteArray kind = line.mid(last + 1).toLower();
        DriveType type = DriveUnknown;
        if (kind == "removable")
            type = DriveRemovable;
        else if (kind == "fixed")
            type = DriveFixed;
        else if (kind == "cdrom")
            type = DriveCdRom;
        else if (kind == "remote")
            type = DriveRemote;
        QString mount = QString::fromUtf8(line.mid(first + 1, last - first - 1).trimmed());
        while (mount.size() > 1 && mount.endsWith(QLatin1Char('/')))
            mount.chop(1);
        drives.push_back({char('A' + index), mount, type, QString()});
    }
    return drives;
}

std::vector<Drive> DrivesFromMountInfo(const QByteArray& text) {
    QMutexLocker lock(&gMutex);
    return TableFromMountInfo(text);
}

std::vector<Drive> Drives() {
    QMutexLocker lock(&gMutex);
    return CurrentTable();
}

quint32 LogicalDriveMask() {
    quint32 mask = 0;
    for (const Drive& d : Drives())
        mask |= 1u << (d.Letter - 'A');
    return mask;
}

QString MountPointOf(char letter) {
    const int index = LetterIndex(QChar::fromLatin1(letter));
    if (index < 0)
        return {};
    for (const Drive& d : Drives())
        if (d.Letter == 'A' + index)
            return d.MountPoint;
    return {};
}

DriveType GetDriveType(const QByteArray& root) {
    if (root.size() < 2 || root[1] != ':')
        return DriveNoRootDir;
    const int index = LetterIndex(QChar::fromLatin1(root[0]));
    if (index < 0)
        return DriveNoRootDir;
    for (const Drive& d : Drives())
        if (d.Letter == 'A' + index)
            return d.Type;
    return DriveNoRootDir;
}

QString ResolvePath(const QString& path) {
    if (path.size() < 2 || path[1] != QLatin1Char(':') || LetterIndex(path[0]) < 0)
        return path;
    const QString mount = MountPointOf(char(path[0].toUpper().toLatin1()));
    if (mount.isEmpty())
        return {};
    QString rest = path.mid(2);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (rest.isEmpty())
        return mount;
    if (!rest.startsWith(QLatin1Char('/')))
        rest.prepend(QLatin1Char('/'));
    return mount == QLatin1String("/") ? rest : mount + rest;
}

QStringList MountsOfDevice(const QString& devNumber) {
    // A partition's sysfs folder lies inside its disk's, so the disk's path prefixes both.
    const QString disk = QFileInfo(QStringLiteral("/sys/dev/block/") + devNumber).canonicalFilePath();
    QStringList mounts;
    QByteArray text;
    {
        QMutexLocker lock(&gMutex);
        text = gTestMountInfo ? *gTestMountInfo : ReadSmallFile(QStringLiteral("/proc/self/mountinfo"));
    }
    for (const MountRow& row : ParseMountInfo(text)) {
        if (row.DevNumber == devNumber) {
            mounts << row.MountPoint;
            continue;
        }
        if (disk.isEmpty() || row.DevNumber.startsWith(QLatin1String("0:")))
            continue;
        const QString path = QFileInfo(QStringLiteral("/sys/dev/block/") + row.DevNumber).canonicalFilePath();
        if (path.startsWith(disk + QLatin1Char('/')))
            mounts << row.MountPoint;
    }
    return mounts;
}

void SetMountInfoForTesting(std::optional<QByteArray> text) {
    QMutexLocker lock(&gMutex);
    gTestMountInfo = std::move(text);
}

void SetDriveTableForTesting(std::optional<std::vector<Drive>> table) {
    QMutexLocker lock(&gMutex);
    gTestTable = std::move(table);
}

} // namespace platform
