// The desktop's help and openers, drive letters, the mount table, the volume watch and safe
// writes.
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SafeWrite.h"
#include "platform/VolumeWatcher.h"
#include "tests/fixtures/DeviceTree.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <gmock/gmock.h>

using namespace platform;

// Topics lie beside the program and cannot leave the help folder; opening goes through the hook,
// and test runs never reach the desktop. Whatever keeps a target from opening reaches the
// failure handler: a refused hand-over, a missing page, no xdg-open, or one that starts and then
// fails. A working one reports nothing.
TEST(Desktop, HelpPagesOpenThroughTheHookAndEveryFailureToOpenReachesTheHandler) {
    for (const char* topic : {"::/ej.html", "::/disk.html", "::/ts.html", "::/diag.html", "", "::/x/y/ej.html"}) {
        QFile page(HelpUrl(QString::fromLatin1(topic)).toLocalFile());
        EXPECT_TRUE(page.open(QIODevice::ReadOnly) && page.readAll().contains("<h1>")) << topic;
    }
    for (const char* topic : {"::/no-such-page.html", "::/../../../../etc/hostname"})
        EXPECT_FALSE(HelpUrl(QString::fromLatin1(topic)).isValid()) << topic;
    QTemporaryDir root;
    std::vector<QUrl> handed;
    SetOpenUrlHookForTesting([&](const QUrl& url) { return handed.push_back(url), true; });
    EXPECT_TRUE(OpenHelp(QStringLiteral("::/ej.html")) && OpenFolder(root.path()));
    SetOpenUrlHookForTesting({});
    EXPECT_EQ(handed, (std::vector<QUrl>{HelpUrl(QStringLiteral("::/ej.html")), QUrl::fromLocalFile(root.path())}));
    const QByteArray path = qgetenv("PATH"), test = qgetenv("MARROWGATE_TEST");
    qputenv("MARROWGATE_TEST", "1");
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/ej.html")) || OpenFolder(root.path()));
    qunsetenv("MARROWGATE_TEST");

    std::vector<QUrl> failed;
    QObject receiver;
    SetOpenFailedHandler(&receiver, [&](const QUrl& url) { failed.push_back(url); });
    SetOpenUrlHookForTesting([](const QUrl&) { return false; });
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/ej.html")));
    SetOpenUrlHookForTesting({});
    EXPECT_FALSE(OpenHelp(QStringLiteral("::/no-such-page.html")));
    EXPECT_EQ(failed, (std::vector<QUrl>{HelpUrl(QStringLiteral("::/ej.html")), QUrl()}));

    QTemporaryDir bin;
    qputenv("PATH", bin.path().toUtf8());
    const QString opened = bin.filePath(QStringLiteral("opened"));
    const auto opener = [&](const QByteArray& body) {
        QFile script(bin.filePath(QStringLiteral("xdg-open")));
        script.remove();
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.toUtf8() + "'\n" + body + "\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    };
    // Until the opener has run and its end has been seen (its process object is gone); what its
    // end posted is delivered then.
    const auto waitForOpener = [&] {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return QFile::exists(opened) && QCoreApplication::instance()->findChildren<QProcess*>().isEmpty(); },
            10000));
        QCoreApplication::sendPostedEvents();
    };
    failed.clear();
    EXPECT_FALSE(OpenFolder(bin.path())); // no xdg-open on the path
    opener("exit 3");
    EXPECT_TRUE(OpenFolder(bin.path()));
    waitForOpener();
    EXPECT_EQ(failed, (std::vector<QUrl>{QUrl::fromLocalFile(bin.path()), QUrl::fromLocalFile(bin.path())}));
    QFile::remove(opened);
    opener("exit 0");
    EXPECT_TRUE(OpenHelp(QStringLiteral("::/ts.html")));
    waitForOpener();
    EXPECT_EQ(fixtures::DeviceTree(bin.path()).ReadFile("opened"), HelpUrl("::/ts.html").toLocalFile().toUtf8());
    EXPECT_EQ(failed.size(), 2u);
    qputenv("PATH", path);
    qputenv("MARROWGATE_TEST", test);
}

// "Er Fc ..." : letter and type (fixed, cdrom, removable) of each drive.
static QByteArray Letters(const std::vector<Drive>& drives) {
    QByteArray out;
    for (const Drive& d : drives)
        out += QByteArray(1, d.Letter) + "rfc"[d.Type == DriveFixed ? 1 : d.Type == DriveCdRom ? 2 : 0] + ' ';
    return out.trimmed();
}

TEST(DriveTable, DriveFileLettersPathsAndFiles) {
    EXPECT_EQ(Letters(ParseDriveFile("# demo\nE: /tmp/my ipod/ removable\nf: /srv fixed\nG: /mnt/cd cdrom\nbad\n")),
              "Er Ff Gc");
    QTemporaryDir dir;
    const QString e = dir.path();
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', e, DriveRemovable, {}}}});
    for (const auto& [path, resolved] :
         {std::pair{"E:\\iPod_Control\\iTunes", e + "/iPod_Control/iTunes"}, {"Q:/x", QString()}})
        EXPECT_EQ(ResolvePath(path), resolved) << path;
    QDir(e).mkpath("iPod_Control/iTunes");
    EXPECT_FALSE(FileExists("E:/iPod_Control/iTunes"));
    // The message names the file by its real path.
    const std::string quoted = '"' + dir.filePath("missing").toStdString() + '"';
    EXPECT_THAT([] { OpenReadOnly("E:/missing"); },
                ::testing::ThrowsMessage<EFOpenError>(::testing::HasSubstr(quoted)));
}

// Only a whole block volume under /media or /run/media becomes a drive; a bind mount of a
// system-disk folder, a tmpfs or a sub-folder of a stick stays out. Removable volumes take
// letters from D and keep them while mounted.
TEST(MountInfo, OnlyBlockVolumesMountedAtTheirRootBecomeDrivesAndKeepTheirLetters) {
    const auto drives =
        DrivesFromMountInfo("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                            "30 22 8:1 /home/u/music /media/u/bound rw - ext4 /dev/sda1 rw\n"
                            "31 22 0:45 / /media/u/ram rw - tmpfs tmpfs rw\n"
                            "32 22 7:0 / /run/media/u/LOOPED rw shared:5 master:2 - vfat /dev/loop0 rw\n"
                            "33 22 7:16 /sub /media/u/part rw - vfat /dev/loop1 rw\n"
                            "34 22 7:32 / /media/u/IPOD\\040X rw - vfat /dev/loop2 rw\n"
                            "garbage\n");
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(std::pair(drives[2].MountPoint, drives[2].Device),
              std::pair(QString("/media/u/IPOD X"), QString("/dev/loop2")));
    DrivesFromMountInfo(QByteArray()); // forget them
    // Device numbers of no block device (major 0), so the mount points decide.
    auto row = [](int id, const QByteArray& mount, const char* fs = "vfat") {
        return QByteArray::number(id) + " 1 0:" + QByteArray::number(900 + id) + " / " + mount + " rw - " + fs +
               " /dev/fake" + QByteArray::number(id) + " rw\n";
    };
    const QByteArray root = row(1, "/", "ext4"), ipod = row(3, "/media/u/IPOD"), stick = row(4, "/run/media/u/STICK"),
                     cd = row(5, "/mnt/cdrom", "iso9660");
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + ipod + stick + cd)), "Cf Dr Er Fc");
    // The iPod leaves: the others keep E: and F:, a new card takes the free D:.
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + stick + cd + row(6, "/media/u/CARD", "exfat"))), "Cf Er Fc Dr");
    DrivesFromMountInfo(QByteArray());
}

// Nothing under the final name until the commit, no temporary after it or after an abandon,
// and never a replaced file that appeared meanwhile, unless a replace is asked for.
TEST(SafeWriteTest, CommitMovesCompleteFileIntoPlaceAndNeverReplaces) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/a.jpg";
    {
        SafeWrite w(dir.path()), abandoned(dir.path());
        ASSERT_TRUE(w.Write(QByteArray("hello ")) && w.Write(QByteArray("world")) && abandoned.Write("x"));
        EXPECT_FALSE(QFile::exists(target));
        ASSERT_TRUE(w.Commit(target));
    }
    EXPECT_EQ(fixtures::DeviceTree(dir.path()).ReadFile("a.jpg"), QByteArray("hello world"));
    SafeWrite late(dir.path());
    ASSERT_TRUE(late.Write(QByteArray("new")));
    QFile::remove(target);
    ASSERT_TRUE(WriteFileSafely(target, "old"));
    errno = 0;
    EXPECT_FALSE(late.Commit(target) || WriteFileSafely(target, "two"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(fixtures::DeviceTree(dir.path()).ReadFile("a.jpg"), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.jpg"});
}

TEST(VolumeWatcher, ReportsArrivalsAndRemovalsAsUnitMasks) {
    constexpr quint32 E = 1u << 4, F = 1u << 5, G = 1u << 6;
    using Reports = std::vector<std::pair<quint32, quint32>>;
    auto volumes = [](std::initializer_list<const char*> removable) {
        std::vector<Drive> drives{{'C', QStringLiteral("/"), DriveFixed, QString()}};
        for (const char* v : removable)
            drives.push_back({v[0], QString::fromLatin1(v + 2), DriveRemovable, QString()});
        SetDriveTableForTesting(drives);
    };
    volumes({"E:/media/a"});
    VolumeWatcher watcher;
    Reports events;
    QObject::connect(&watcher, &VolumeWatcher::DeviceChange,
                     [&](quint32 code, quint32 mask) { events.emplace_back(code, mask); });
    watcher.Start();
    auto look = [&] { return watcher.CheckNow(), std::exchange(events, {}); };
    EXPECT_TRUE(look().empty()); // volumes present at the start raise nothing
    volumes({"E:/media/a", "F:/media/b", "G:/media/c"});
    EXPECT_EQ(look(), (Reports{{DBT_DEVICEARRIVAL, F | G}}));
    // A letter that changes folder leaves, then arrives.
    volumes({"E:/media/new"});
    EXPECT_EQ(look(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E | F | G}, {DBT_DEVICEARRIVAL, E}}));
}
