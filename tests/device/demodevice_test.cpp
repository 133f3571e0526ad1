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

static const QString tool = QStringLiteral(MG_BIN_DIR "/make-demo-device");

TEST(DemoDevice, SampleIPodLoadsWithTracksPlaylistsArtAndPhotos) {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("iPod"));
    QProcess p;
    p.start(tool, {root});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();

    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'E', root, platform::DriveRemovable, QString()}});
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
        const QString path = platform::ResolvePath("E:" + QString(t.Location).replace(u':', u'/'));
        EXPECT_EQ(QFileInfo(path).size(), qint64(t.Size)) << path.toStdString();
        withArt += t.HasArtwork;
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
    QTemporaryDir dir;
    // Usage on standard output with exit 0 for help, exit 2 otherwise.
    for (const auto& [arg, help] : {std::pair("--help", true), {"-h", true}, {"--force", false}, {"-", false}}) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(tool, {QString::fromLatin1(arg)});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), help ? 0 : 2) << arg;
        EXPECT_EQ(p.readAllStandardOutput().startsWith("usage:"), help) << arg;
        EXPECT_TRUE(QDir(dir.path()).isEmpty()) << arg;
    }
}
