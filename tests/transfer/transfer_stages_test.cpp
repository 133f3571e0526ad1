// The album-art, iTunes and thumbnail stages of a transfer with databases written by the
// fixtures, run through the copy thread with a headless panel.
#include "transfer_helpers.h"

#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/ThumbWriter.h"

#include <QImage>

using namespace transfer_test;

namespace {

void ExpectQuadrants(const QImage& image, int seed, int tolerance) {
    ASSERT_FALSE(image.isNull());
    const int w = image.width(), h = image.height();
    const QPoint centres[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    for (int q = 0; q < 4; ++q) {
        const QColor want = fixtures::QuadrantColour(seed, q), got = image.pixelColor(centres[q]);
        EXPECT_NEAR(got.red(), want.red(), tolerance) << "quadrant " << q << " seed " << seed;
        EXPECT_NEAR(got.green(), want.green(), tolerance) << "quadrant " << q << " seed " << seed;
        EXPECT_NEAR(got.blue(), want.blue(), tolerance) << "quadrant " << q << " seed " << seed;
    }
}

} // namespace

class StagesTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        Tree = std::make_unique<fixtures::DeviceTree>(DeviceRoot);
    }
    std::unique_ptr<fixtures::DeviceTree> Tree;
};

TEST_F(StagesTest, ITunesCannotStartAndThePhotoStageStillRuns) {
    AddTrack("One", "1.mp3", "1");
    AddTrack("Two", "2.mp3", "2");
    Db->Playlists.Add().Name = "iPod";
    Db->Playlists.Add().Name = "Road";
    AddPhoto(":Q.JPG", "q");
    TransferRun run;
    Run(run, 2, 1, false, false, false, false, 0, false, Photos.get(), nullptr, /*toITunes=*/true);
    EXPECT_TRUE(run.Display->Titles.contains("Adding the playlists and music to the iTunes"));
    EXPECT_EQ(run.Display->Maximums, QList<int>({3, 1})); // the playlists and one, then the photos
    EXPECT_TRUE(run.ITunesFailed);
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.contains("\r\nAdd to iTunes:\r\n2/2\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\n"
                             "Reason: iTunes is not installed on this computer\r\n- done.\r\nPhotos\r\n"))
        << log.toStdString();
    EXPECT_TRUE(log.endsWith("\r\nMusic: 2/2\r\nPhotos: 1/1\r\nTo iTunes: -1, -1"));
    EXPECT_EQ(ReadBytes(Pictures + "Q.JPG"), "q");
    EXPECT_EQ(run.Display->Titles.last(), "All done");
}

TEST_F(StagesTest, ITunesIsNotStartedWithoutACopiedTrack) {
    // Checked tracks that all fail: the stage writes its count line only.
    AddTrack("Gone", "G.mp3", QByteArray());
    AddTrack("Gone too", "H.mp3", QByteArray());
    {
        TransferRun run;
        Run(run, 2, 0, false, false, false, false, 0, false, nullptr, nullptr, true);
        EXPECT_FALSE(run.ITunesFailed);
        EXPECT_FALSE(run.Display->Titles.contains("Adding the playlists and music to the iTunes"));
        const QString log = app::DetailLog.Text();
        EXPECT_TRUE(log.contains("\r\nAdd to iTunes:\r\n0/2\r\n- done.")) << log.toStdString();
        EXPECT_FALSE(log.contains("[X]Cannot start iTunes"));
        EXPECT_TRUE(log.endsWith("\r\nTo iTunes: -1, 0"));
    }
    // No checked track at all: the stage does not run, even when asked for.
    app::DetailLog.Clear();
    for (int i = 0; i < Db->Tracks.Count(); ++i)
        Db->Tracks.GetItem(i).Selected = 0;
    AddPhoto(":Q.JPG", "q");
    TransferRun photosOnly;
    Run(photosOnly, 0, 1, false, false, false, false, 0, false, Photos.get(), nullptr, true);
    EXPECT_FALSE(app::DetailLog.Text().contains("Add to iTunes:"));
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nMusic: 0/0\r\nPhotos: 1/1\r\nTo iTunes: -1, 0"));
}

TEST_F(StagesTest, ArtworkStageWritesTheMarkedBitmapsToItsOwnFolderRemovedAtTheEnd) {
    const fixtures::ArtSet set = fixtures::MakeArtSet(1028, 1017, 14, false, 5);
    fixtures::WriteArtSet(*Tree, set, false);
    device::TArtworkDb art("E:", false);
    ASSERT_TRUE(art.Load());
    ASSERT_EQ(art.Arts.Count(), 14);
    for (int i = 0; i < 14; ++i)
        art.Arts.GetItem(i)->Selected = i == 3 || i == 9 ? 0 : 1; // twelve marked
    // Files of the user that look like the bitmaps are none of the transfer's business.
    const QString userFolder = Music + "Artworks/";
    art.OutputFolder = userFolder;
    WriteBytes(userFolder + "0.bmp", "the user's");
    AddTrack("Song", "A.mp3", "a");

    TransferRun run;
    art.OnProgress = [&run] { run.Display->OnArtCopyProgress(); };
    QStringList bitmapsDuringTransfer;
    QString artFolder;
    int stepsOfArtStage = -1, maximumOfArtStage = -1;
    run.Display->OnItem = [&](const QString& text) {
        // The iTunes stage follows the artwork stage: the bitmaps are there for it.
        if (text != "Starting iTunes, please wait ...")
            return;
        artFolder = run.Display->Thread->ArtworkFolder();
        EXPECT_EQ(QFileInfo(artFolder).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                         QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                  QFile::Permissions());
        bitmapsDuringTransfer = AllFiles(artFolder);
        stepsOfArtStage = run.Display->Steps;
        maximumOfArtStage = run.Display->Maximum;
        for (int i : {0, 7, 13}) {
            SCOPED_TRACE(i);
            const QImage image = QImage(artFolder + QString::number(i) + ".bmp", "BMP");
            EXPECT_EQ(image.size(), QSize(100, 100));
            ExpectQuadrants(image, i, 12);
        }
    };
    Run(run, 1, 0, false, false, false, false, 12, true, nullptr, &art, /*toITunes=*/true);

    QStringList expected;
    for (int i = 0; i < 14; ++i)
        if (i != 3 && i != 9)
            expected << QString::number(i) + ".bmp";
    expected.sort();
    bitmapsDuringTransfer.sort();
    EXPECT_EQ(bitmapsDuringTransfer, expected);
    EXPECT_EQ(stepsOfArtStage, 12);
    EXPECT_EQ(maximumOfArtStage, 12);
    EXPECT_EQ(run.Display->ArtDone(), 12u);
    QStringList counts;
    for (int i = 1; i <= 12; ++i)
        counts << QString::number(i);
    const QStringList& items = run.Display->Items;
    const qsizetype first = items.indexOf("1");
    ASSERT_GE(first, 0);
    EXPECT_EQ(items.mid(first, 12), counts);
    EXPECT_TRUE(run.Display->Titles.contains("Transferring artworks of songs"));
    EXPECT_TRUE(app::DetailLog.Text().contains("\r\nArtworks\r\n\r\nAdd to iTunes:"));
    // The bitmaps are gone with their folder at the end.
    ASSERT_FALSE(artFolder.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(artFolder));
    EXPECT_EQ(AllFiles(userFolder), QStringList{"0.bmp"});
    EXPECT_EQ(ReadBytes(userFolder + "0.bmp"), "the user's");
}

TEST_F(StagesTest, ArtworkStageIsSkippedWithoutAMarkedArtwork) {
    device::TArtworkDb art("E:", false);
    art.Arts.Add();
    const QString artFolder = Music + "Artworks/";
    art.OutputFolder = artFolder;
    WriteBytes(artFolder + "0.bmp", "stays");
    AddTrack("Song", "A.mp3", "a");
    TransferRun run;
    Run(run, 1, 0, false, false, false, false, 0, true, nullptr, &art);
    EXPECT_FALSE(run.Display->Titles.contains("Transferring artworks of songs"));
    EXPECT_FALSE(app::DetailLog.Text().contains("Artworks"));
    EXPECT_EQ(ReadBytes(artFolder + "0.bmp"), "stays");
}

TEST_F(StagesTest, ThumbnailExportCountsEveryPhotoAndRunsToItsEndAfterACancel) {
    const fixtures::PhotoSet set = fixtures::MakePhotoSet(1024, 1009, 25, false, 10);
    fixtures::WritePhotoSet(*Tree, set, false);
    device::TPhotoDb photos("E:", false);
    ASSERT_TRUE(photos.Load());
    ASSERT_EQ(photos.Photos.Count(), 25);
    ASSERT_EQ(photos.HasFullRes, 0);
    for (int i = 0; i < 25; ++i)
        photos.Photos.GetItem(i)->Selected = 1;
    photos.OutputFolder = Pictures;

    TransferRun run;
    run.Display->CheckedPhotos = 25;
    photos.OnProgress = [&run] { run.Display->OnCopyProgress(); };
    CancelAt(run, "5 of 25 copied"); // the thumbnail export does not test a cancel
    Run(run, 0, 25, false, false, false, false, 0, false, &photos);

    QStringList lines{"Please wait ..."};
    for (int i = 1; i <= 25; ++i)
        lines << QStringLiteral("%1 of 25 copied").arg(i);
    lines << QString();
    EXPECT_EQ(run.Display->Items.mid(1), lines); // after the start's own line
    EXPECT_EQ(run.Display->Steps, 25);
    EXPECT_EQ(run.PhotosFailed, 0);
    QStringList files;
    for (int i = 0; i < 25; ++i)
        files << QString::number(100 + i) + ".jpg";
    files.sort();
    EXPECT_EQ(AllFiles(Pictures), files);
    for (int i : {0, 24}) {
        SCOPED_TRACE(i);
        const QImage image(Pictures + QString::number(100 + i) + ".jpg");
        EXPECT_EQ(image.size(), QSize(320, 240));
        ExpectQuadrants(image, i, 12);
    }
    EXPECT_EQ(app::DetailLog.Text(), "\r\nPhotos\r\n\r\nMusic: 0/0\r\nPhotos: 25/25\r\nTo iTunes: 0, 0");
}

TEST_F(StagesTest, ThumbnailsNotWrittenAreLoggedAndNotCounted) {
    fixtures::PhotoSet set = fixtures::MakePhotoSet(1024, 1009, 4, false, 2);
    set.Containers["F1024_2.ithmb"].chop(10); // the last photo's image is cut short
    fixtures::WritePhotoSet(*Tree, set, false);
    device::TPhotoDb photos("E:", false);
    ASSERT_TRUE(photos.Load());
    ASSERT_EQ(photos.HasFullRes, 0);
    for (int i = 0; i < photos.Photos.Count(); ++i)
        photos.Photos.GetItem(i)->Selected = 1;
    photos.OutputFolder = Pictures;
    QDir().mkpath(Pictures + "101.jpg");
    {
        TransferRun run;
        Run(run, 0, 4, false, false, false, false, 0, false, &photos);
        const QString log = app::DetailLog.Text();
        EXPECT_TRUE(log.contains("\r\nPhotos\r\n101.jpg :name in use\r\n103.jpg :image cannot be read\r\n"))
            << log.toStdString();
        EXPECT_TRUE(log.endsWith("\r\nPhotos: 2/4\r\nTo iTunes: 0, 0"));
    }
    // A stage that fails part-way, or never runs, says what was written.
    app::DetailLog.Clear();
    photos.OutputFolder = Temp.path() + "/missing/";
    TransferRun failed;
    Run(failed, 0, 4, false, false, false, false, 0, false, &photos);
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nPhotos: 0/4\r\nTo iTunes: 0, 0"));

    app::DetailLog.Clear();
    photos.OutputFolder = Pictures;
    AddTrack("Song", "A.mp3", "a");
    device::TArtworkDb art("E:", false);
    const QByteArray tmp = qgetenv("TMPDIR");
    WriteBytes(Temp.path() + "/file", "not a folder");
    qputenv("TMPDIR", (Temp.path() + "/file").toUtf8());
    TransferRun neverRan;
    Run(neverRan, 1, 4, false, false, false, false, 1, true, &photos, &art);
    tmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.contains("[X]Reason: Cannot create a temporary folder for the artworks.")) << log.toStdString();
    EXPECT_TRUE(log.endsWith("\r\nMusic: 1/1\r\nPhotos: 0/4\r\nTo iTunes: 0, 0"));
}
