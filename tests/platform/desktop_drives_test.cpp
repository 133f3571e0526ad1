// The desktop's help and openers, drive letters, the mount table, the volume watch and safe
// writes.
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SafeWrite.h"
#include "platform/VolumeWatcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;

// Every topic the window opens, and the start page, lie beside the program; a topic cannot
// leave the help folder. An install keeps them in share/marrowgate/help/ beside bin/.
TEST(Desktop, HelpPagesLieBesideTheProgramAndOpenThroughTheHook) {
    EXPECT_EQ(QDir(HelpFolder()).absolutePath(), QDir(QStringLiteral(MG_BIN_DIR "/help")).absolutePath());
    for (const char* topic :
         {"::/ej.html", "::/disk.html", "::/ts.html", "::/diag.html", "", "::/x/y/ej.html"}) {
        QFile page(HelpUrl(QString::fromLatin1(topic)).toLocalFile());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << topic;
        EXPECT_TRUE(page.readAll().contains("<h1>")) << topic;
    }
    EXPECT_EQ(HelpUrl(QStringLiteral("::/x/y/ej.html")), HelpUrl(QStringLiteral("::/ej.html")));
    for (const char* topic : {"::/no-such-page.html", "::/../../../../etc/hostname"})
        EXPECT_FALSE(HelpUrl(QString::fromLatin1(topic)).isValid()) << topic;
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("usr/bin") && QDir(root.path()).mkpath("usr/share/marrowgate/help"));
    EXPECT_EQ(HelpFolderFor(root.filePath("usr/bin")), root.filePath("usr/share/marrowgate/help/"));

    // Opening goes through the hook, and missing targets open nothing; test runs never reach
    // the desktop.
    std::vector<QUrl> opened;
    SetOpenUrlHookForTesting([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_TRUE(OpenHelp(QStringLiteral("::/ej.html")));
    EXPECT_TRUE(OpenHelp());
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/missing.html")));
    EXPECT_TRUE(OpenFolder(root.path()));
    EXPECT_TRUE(OpenPage(ProductPage()));
    SetOpenUrlHookForTesting({});
    EXPECT_EQ(opened, (std::vector<QUrl>{HelpUrl(QStringLiteral("::/ej.html")), HelpUrl(),
                                         QUrl::fromLocalFile(root.path()), HelpUrl()}));
    const QByteArray before = qgetenv("MARROWGATE_TEST");
    qputenv("MARROWGATE_TEST", "1");
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/ej.html")) || OpenFolder(root.path()));
    qputenv("MARROWGATE_TEST", before);
}

namespace {

// "Er Fc ..." : letter and type (fixed, cdrom, removable) of each drive.
QByteArray Letters(const std::vector<Drive>& drives) {
    QByteArray out;
    for (const Drive& d : drives)
        out += QByteArray(1, d.Letter) +
               (d.Type == DriveFixed   ? "f"
                : d.Type == DriveCdRom ? "c"
                                       : "r") +
               ' ';
    return out.trimmed();
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

TEST(DriveTable, DriveFileLettersPathsAndFiles) {
    const auto drives = ParseDriveFile("# demo\nE: /tmp/my ipod/ removable\n"
                                       "f: /srv fixed\nG: /mnt/cd cdrom\nbad line\n1: /x removable\n");
    EXPECT_EQ(Letters(drives), "Er Ff Gc");
    EXPECT_EQ(drives.at(0).MountPoint, QStringLiteral("/tmp/my ipod"));
    QTemporaryDir dir;
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', dir.path(), DriveRemovable, {}}}});
    EXPECT_EQ(GetDriveType("e:\\"), DriveRemovable);
    EXPECT_EQ(GetDriveType("Q:"), DriveNoRootDir);
    EXPECT_EQ(LogicalDriveMask(), (1u << 2) | (1u << 4));
    const QString e = dir.path();
    for (const auto& [path, resolved] : {std::pair{"E:\\iPod_Control\\iTunes", e + "/iPod_Control/iTunes"},
                                         {"E:", e},
                                         {"Q:/x", QString()},
                                         {"/home/a", QString("/home/a")}})
        EXPECT_EQ(ResolvePath(path), resolved) << path;
    // A folder is no file, and an unknown letter opens nothing.
    QDir(dir.path()).mkpath("iPod_Control/iTunes");
    EXPECT_TRUE(DirectoryExists("E:/iPod_Control/iTunes/"));
    EXPECT_FALSE(FileExists("E:/iPod_Control/iTunes"));
    // The message names the file by its real path; a letter not in the table stays as given.
    for (const auto& [path, named] : {std::pair{"E:/missing", dir.filePath("missing")}, {"F:/x", QString("F:/x")}}) {
        try {
            OpenReadOnly(path);
            ADD_FAILURE() << path;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()).section(u'"', 1, 1), named);
        }
    }
}

// Only a whole block volume under /media or /run/media becomes a drive; what else is mounted
// there (a bind mount of a system-disk folder, a tmpfs, a sub-folder of a stick) stays out.
TEST(MountInfo, OnlyBlockVolumesMountedAtTheirRootBecomeDrives) {
    const QByteArray text = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                            "30 22 8:1 /home/u/music /media/u/bound rw - ext4 /dev/sda1 rw\n"
                            "31 22 0:45 / /media/u/ram rw - tmpfs tmpfs rw\n"
                            "32 22 7:0 / /run/media/u/LOOPED rw shared:5 master:2 - vfat /dev/loop0 rw\n"
                            "33 22 7:16 /sub /media/u/part rw - vfat /dev/loop1 rw\n"
                            "34 22 7:32 / /media/u/IPOD\\040X rw - vfat /dev/loop2 rw\n"
                            "garbage\n";
    const auto rows = ParseMountInfo(text);
    ASSERT_EQ(rows.size(), 6u);
    const auto drives = DrivesFromMountInfo(text);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].MountPoint, QStringLiteral("/run/media/u/LOOPED"));
    EXPECT_EQ(drives[2].MountPoint, QStringLiteral("/media/u/IPOD X"));
    EXPECT_EQ(drives[2].Device, QStringLiteral("/dev/loop2"));
    DrivesFromMountInfo(QByteArray()); // forget them
}

TEST(MountInfo, RemovableVolumesTakeLettersFromDAndKeepThemWhileMounted) {
    // Device numbers of no block device (major 0), so the mount points decide.
    auto row = [](int id, const QByteArray& mount, const char* fs = "vfat") {
        return QByteArray::number(id) + " 1 0:" + QByteArray::number(900 + id) + " / " + mount + " rw - " +
               fs + " /dev/fake" + QByteArray::number(id) + " rw\n";
    };
    const QByteArray root = row(1, "/", "ext4"), home = row(2, "/home", "ext4"),
                     ipod = row(3, "/media/u/IPOD"), stick = row(4, "/run/media/u/STICK"),
                     cd = row(5, "/mnt/cdrom", "iso9660"), card = row(6, "/media/u/CARD", "exfat");
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + home + ipod + stick + cd)), "Cf Dr Er Fc");
    // The iPod leaves: the stick and the CD keep E: and F:, a new card takes the free D:.
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + stick + cd + card)), "Cf Er Fc Dr");
    // Back again, the iPod takes the lowest free letter, not necessarily its old one.
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + ipod + stick + cd + card)), "Cf Er Fc Dr Gr");
    // More volumes than letters: the rest stay out of the table.
    QByteArray many = root;
    for (int i = 0; i < 30; ++i)
        many += row(10 + i, "/media/u/V" + QByteArray::number(i));
    const auto full = DrivesFromMountInfo(many);
    ASSERT_EQ(full.size(), 24u); // C: and D: to Z:
    EXPECT_EQ(full.back().Letter, 'Z');
    DrivesFromMountInfo(QByteArray()); // forget them
}

// Nothing under the final name until the commit, no temporary after it or after an abandon,
// and never a replaced file that appeared meanwhile, unless a replace is asked for.
TEST(SafeWriteTest, CommitMovesCompleteFileIntoPlaceAndNeverReplaces) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/a.jpg", src = dir.path() + "/src";
    {
        platform::SafeWrite w(dir.path());
        ASSERT_TRUE(w.Write(QByteArray("hello ")) && w.Write(QByteArray("world")));
        EXPECT_FALSE(QFile::exists(target));
        ASSERT_TRUE(w.Commit(target));
        platform::SafeWrite abandoned(dir.path());
        ASSERT_TRUE(abandoned.Write(QByteArray("abandoned")));
    }
    EXPECT_EQ(ReadAll(target), QByteArray("hello world"));
    platform::SafeWrite late(dir.path());
    ASSERT_TRUE(late.Write(QByteArray("new")));
    QFile::remove(target);
    ASSERT_TRUE(platform::WriteFileSafely(target, "old"));
    errno = 0;
    EXPECT_FALSE(late.Commit(target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(platform::WriteFileSafely(target, "two"));
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    EXPECT_TRUE(platform::WriteFileSafely(target, "three", true));
    EXPECT_EQ(ReadAll(target), QByteArray("three"));

    EXPECT_THROW(platform::SafeWrite(dir.path() + "/gone"), platform::EFOpenError);
    EXPECT_FALSE(platform::WriteFileSafely(dir.path() + "/gone/x", "x"));
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(platform::WriteFileSafely(src, "s"));
    EXPECT_FALSE(platform::MoveNoReplace(src, target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadAll(src), "s");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.jpg", "src"}));
}

namespace {

constexpr quint32 E = 1u << 4, F = 1u << 5, G = 1u << 6;
using Reports = std::vector<std::pair<quint32, quint32>>;

// Sets the drive table: C: and removable volumes given as "E:/media/a".
void Volumes(std::initializer_list<const char*> removable) {
    std::vector<Drive> drives{{'C', QStringLiteral("/"), DriveFixed, QString()}};
    for (const char* v : removable)
        drives.push_back({v[0], QString::fromLatin1(v + 2), DriveRemovable, QString()});
    SetDriveTableForTesting(drives);
}

// The watcher's reports as (code, mask) pairs after a look.
struct Spy {
    VolumeWatcher Watcher;
    Reports Events;
    Spy() {
        QObject::connect(&Watcher, &VolumeWatcher::DeviceChange,
                         [this](quint32 code, quint32 mask) { Events.emplace_back(code, mask); });
        Watcher.Start();
    }
    Reports Look() {
        Watcher.CheckNow();
        return std::exchange(Events, {});
    }
};

} // namespace

TEST(VolumeWatcher, ReportsArrivalsAndRemovalsAsUnitMasks) {
    Volumes({"E:/media/a"});
    Spy spy;
    EXPECT_TRUE(spy.Look().empty()); // volumes present at the start raise nothing
    EXPECT_EQ(spy.Watcher.CurrentMask(), (1u << 2) | E);
    // two volumes in one look come as one arrival with both bits
    Volumes({"E:/media/a", "F:/media/b", "G:/media/c"});
    EXPECT_EQ(spy.Look(), (Reports{{DBT_DEVICEARRIVAL, F | G}}));
    EXPECT_EQ(spy.Watcher.CurrentMask(), (1u << 2) | E | F | G);
    EXPECT_TRUE(spy.Look().empty());
    Volumes({"F:/media/b", "G:/media/c"});
    EXPECT_EQ(spy.Look(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E}}));
    // A letter that changes folder leaves, then arrives.
    Volumes({"E:/media/new"});
    EXPECT_EQ(spy.Look(), (Reports{{DBT_DEVICEREMOVECOMPLETE, F | G}, {DBT_DEVICEARRIVAL, E}}));
}
