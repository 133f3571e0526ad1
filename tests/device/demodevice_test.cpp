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

TEST(DemoDevice, SampleIPodLoadsWithTracksPlaylistsArtAndPhotosAndOptionsAreNeverTakenForTheFolder) {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("iPod"));
    // Usage on standard output with exit 0 for help, exit 2 otherwise.
    for (const auto& [arg, help] : {std::pair("--help", true), {"-h", true}, {"--force", false}, {"-", false}}) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(tool, {QString::fromLatin1(arg)});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(std::pair(p.exitCode(), p.readAllStandardOutput().startsWith("usage:")),
                  std::pair(help ? 0 : 2, help));
        EXPECT_TRUE(QDir(dir.path()).isEmpty()) << arg;
    }
    ASSERT_EQ(QProcess::execute(tool, {root}), 0);
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'E', root, platform::DriveRemovable, QString()}});
    device::TiTunesDB tracks("E:", false);
    ASSERT_TRUE(tracks.Load());
    EXPECT_TRUE(tracks.Tracks.Count() >= 250 && tracks.Playlists.Count() >= 5);
    int withArt = 0;
    for (int i = 0; i < tracks.Tracks.Count(); ++i) {
        const device::TTrackItem& t = tracks.Tracks.GetItem(i);
        EXPECT_FALSE(t.Title.isEmpty() || t.Artist.isEmpty());
        // every listed file is there, at the size the list gives
        EXPECT_EQ(QFileInfo(platform::ResolvePath("E:" + QString(t.Location).replace(u':', u'/'))).size(),
                  qint64(t.Size))
            << i;
        withArt += t.HasArtwork;
    }
    EXPECT_GT(withArt, 100);
    device::TArtworkDb art("E:", false);
    ASSERT_TRUE(art.Load());
    EXPECT_EQ(art.Arts.Count(), withArt);
    QImage small;
    EXPECT_TRUE(art.LoadSmallArt(0, small));
    device::TPhotoDb photos("E:", false);
    ASSERT_TRUE(photos.Load());
    EXPECT_EQ(std::pair(photos.Photos.Count(), photos.Albums.Count() >= 3), std::pair(64, true));
    platform::SetDriveTableForTesting(std::nullopt);
}
