// The demo's sample iPod must load through the same readers as a real one, or the demo shows
// an empty window.
#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(DemoDevice, SampleIPodLoadsWithTracksPlaylistsArtAndPhotos) {
    const QString tool = QStringLiteral(MG_BIN_DIR "/make-demo-device");
    if (!QFileInfo(tool).isExecutable()) GTEST_SKIP() << "make-demo-device is not built";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.filePath(QStringLiteral("iPod"));
    QProcess p;
    p.start(tool, {root});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();

    platform::SetDriveTableForTesting(
        std::vector<platform::Drive>{{'C', QStringLiteral("/"), platform::DriveFixed, QString()},
                                     {'E', root, platform::DriveRemovable, QString()}});
    device::TiTunesDB tracks("E:", false);
    ASSERT_TRUE(tracks.Load());
    EXPECT_GE(tracks.Tracks.Count(), 250);
    ASSERT_GE(tracks.Playlists.Count(), 5);
    EXPECT_EQ(tracks.Playlists.GetItem(0).Name, QStringLiteral("Marrowgate Demo iPod"));
    int withArt = 0;
    for (int i = 0; i < tracks.Tracks.Count(); ++i) {
        const device::TTrackItem& t = tracks.Tracks.GetItem(i);
        EXPECT_FALSE(t.Title.isEmpty());
        EXPECT_FALSE(t.Artist.isEmpty());
        // every listed file is there, at the size the list gives
        QString location = t.Location;
        const QString path = platform::ResolvePath(QStringLiteral("E:") +
                                                   location.replace(QLatin1Char(':'), QLatin1Char('/')));
        EXPECT_EQ(QFileInfo(path).size(), qint64(t.Size)) << path.toStdString();
        withArt += t.HasArtwork ? 1 : 0;
    }
    EXPECT_GT(withArt, 100);

    device::TArtworkDb art("E:", false);
    ASSERT_TRUE(art.Load());
    EXPECT_EQ(art.Arts.Count(), withArt);
    QImage small;
    EXPECT_TRUE(art.LoadSmallArt(0, small));
    EXPECT_FALSE(small.isNull());

    device::TPhotoDb photos("E:", false);
    ASSERT_TRUE(photos.Load());
    EXPECT_EQ(photos.Photos.Count(), 64);
    EXPECT_GE(photos.Albums.Count(), 3);
    platform::SetDriveTableForTesting(std::nullopt);
}

TEST(DemoDevice, OptionsAreNeverTakenForTheFolder) {
    const QString tool = QStringLiteral(MG_BIN_DIR "/make-demo-device");
    if (!QFileInfo(tool).isExecutable()) GTEST_SKIP() << "make-demo-device is not built";
    QTemporaryDir dir;
    const struct {
        const char* Arg;
        int Exit;
        bool UsageOnStdout;
    } cases[] = {{"--help", 0, true}, {"-h", 0, true}, {"--force", 2, false}, {"-", 2, false}};
    for (const auto& c : cases) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(tool, {QString::fromLatin1(c.Arg)});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), c.Exit) << c.Arg;
        EXPECT_EQ(p.readAllStandardOutput().startsWith("usage:"), c.UsageOnStdout) << c.Arg;
        EXPECT_TRUE(QDir(dir.path()).isEmpty()) << c.Arg;
    }
}
