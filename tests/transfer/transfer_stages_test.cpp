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

// The picture shows photo `seed`'s four quadrant colours.
void ExpectQuadrants(const QString& file, QSize size, int seed) {
    const QImage image(file);
    ASSERT_EQ(image.size(), size) << file.toStdString();
    const int w = image.width(), h = image.height();
    for (int q = 0; q < 4; ++q) {
        const QColor want = fixtures::QuadrantColour(seed, q);
        const QColor got = image.pixelColor((q % 2 * 2 + 1) * w / 4, (q / 2 * 2 + 1) * h / 4);
        EXPECT_LE(std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                            std::abs(got.blue() - want.blue())}),
                  12)
            << file.toStdString() << " quadrant " << q;
    }
}

// The full-size photo and thumbnail set-ups: `count` ticked photos of the fixtures' set.
std::unique_ptr<device::TPhotoDb> ThumbnailPhotos(const QString& root, fixtures::PhotoSet set,
                                                  const QString& out) {
    fixtures::WritePhotoSet(fixtures::DeviceTree(root), set, false);
    auto photos = std::make_unique<device::TPhotoDb>("E:", false);
    EXPECT_TRUE(photos->Load());
    EXPECT_EQ(photos->HasFullRes, 0);
    for (int i = 0; i < photos->Photos.Count(); ++i)
        photos->Photos.GetItem(i)->Selected = 1;
    photos->OutputFolder = out;
    return photos;
}

} // namespace

using StagesTest = TransferTest;

TEST_F(StagesTest, ITunesThatCannotStartIsLoggedAndThePhotoStageStillRuns) {
    AddTrack("One", "1.mp3", "1");
    AddTrack("Two", "2.mp3", "2");
    Db->Playlists.Add().Name = "iPod";
    Db->Playlists.Add().Name = "Road";
    AddPhoto(":Q.JPG", "q");
    TransferRun run;
    Run(run, 2, 1, false, false, false, false, 0, false, Photos.get(), nullptr, /*toITunes=*/true);
    EXPECT_EQ(run.Display->Maximums, QList<int>({3, 1})); // the playlists and one, then the photos
    EXPECT_TRUE(run.ITunesFailed);
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        "\r\nAdd to iTunes:\r\n2/2\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\n"
        "Reason: iTunes is not installed on this computer\r\n- done.\r\nPhotos\r\n\r\n"
        "Music: 2/2\r\nPhotos: 1/1\r\nTo iTunes: -1, -1"))
        << app::DetailLog.Text().toStdString();
    EXPECT_EQ(ReadBytes(Pictures + "Q.JPG"), "q");
    EXPECT_EQ(run.Display->Titles.last(), "All done");
}

TEST_F(StagesTest, ITunesIsNotStartedWithoutACopiedTrack) {
    AddTrack("Gone", "G.mp3", QByteArray());
    TransferRun run;
    Run(run, 1, 0, false, false, false, false, 0, false, nullptr, nullptr, true);
    EXPECT_FALSE(run.ITunesFailed);
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nAdd to iTunes:\r\n0/1\r\n- done.\r\nMusic: 0/1\r\n"
                                               "Photos: 0/0\r\nTo iTunes: -1, 0"))
        << app::DetailLog.Text().toStdString();
    // No checked track at all: the stage does not run, even when asked for.
    app::DetailLog.Clear();
    Db->Tracks.GetItem(0).Selected = 0;
    TransferRun none;
    Run(none, 0, 0, false, false, false, false, 0, false, nullptr, nullptr, true);
    EXPECT_FALSE(app::DetailLog.Text().contains("Add to iTunes:"));
}

TEST_F(StagesTest, ArtworkBitmapsLiveInAPrivateFolderUntilTheEnd) {
    fixtures::WriteArtSet(fixtures::DeviceTree(DeviceRoot), fixtures::MakeArtSet(1028, 1017, 14, false, 5),
                          false);
    device::TArtworkDb art("E:", false);
    ASSERT_TRUE(art.Load());
    ASSERT_EQ(art.Arts.Count(), 14);
    for (int i = 0; i < 14; ++i)
        art.Arts.GetItem(i)->Selected = i == 3 || i == 9 ? 0 : 1;
    // Files of the user that look like the bitmaps are none of the transfer's business.
    art.OutputFolder = Music + "Artworks/";
    WriteBytes(Music + "Artworks/0.bmp", "the user's");
    AddTrack("Song", "A.mp3", "a");
    TransferRun run;
    art.OnProgress = [&run] { run.Display->OnArtCopyProgress(); };
    QStringList bitmaps;
    QString folder;
    int steps = -1;
    run.Display->OnItem = [&](const QString& text) {
        // The iTunes stage follows the artwork stage: the bitmaps are there for it.
        if (text != "Starting iTunes, please wait ...") return;
        folder = run.Display->Thread->ArtworkFolder();
        const auto others =
            QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                               QFile::ReadOther | QFile::WriteOther | QFile::ExeOther);
        EXPECT_EQ(others, QFile::Permissions());
        bitmaps = AllFiles(folder);
        steps = run.Display->Steps;
        for (int i : {0, 13})
            ExpectQuadrants(folder + QString::number(i) + ".bmp", QSize(100, 100), i);
    };
    Run(run, 1, 0, false, false, false, false, 12, true, nullptr, &art, /*toITunes=*/true);
    EXPECT_EQ(bitmaps.size(), 12);
    EXPECT_FALSE(bitmaps.contains("3.bmp") || bitmaps.contains("9.bmp"));
    EXPECT_EQ(steps, 12);
    EXPECT_EQ(run.Display->ArtDone(), 12u);
    EXPECT_TRUE(app::DetailLog.Text().contains("\r\nArtworks\r\n\r\nAdd to iTunes:"));
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(AllFiles(Music + "Artworks/"), QStringList{"0.bmp"});
    EXPECT_EQ(ReadBytes(Music + "Artworks/0.bmp"), "the user's");

    // Without a marked artwork the stage is skipped.
    app::DetailLog.Clear();
    for (int i = 0; i < 14; ++i)
        art.Arts.GetItem(i)->Selected = 0;
    TransferRun skipped;
    Run(skipped, 1, 0, false, false, false, false, 0, true, nullptr, &art);
    EXPECT_FALSE(skipped.Display->Titles.contains("Transferring artworks of songs"));
    EXPECT_FALSE(app::DetailLog.Text().contains("Artworks"));
}

TEST_F(StagesTest, ThumbnailExportCountsEveryPhotoAndRunsToItsEndAfterACancel) {
    auto photos = ThumbnailPhotos(DeviceRoot, fixtures::MakePhotoSet(1024, 1009, 25, false, 10), Pictures);
    TransferRun run;
    run.Display->CheckedPhotos = 25;
    photos->OnProgress = [&run] { run.Display->OnCopyProgress(); };
    CancelAt(run, "5 of 25 copied"); // the thumbnail export does not test a cancel
    Run(run, 0, 25, false, false, false, false, 0, false, photos.get());
    EXPECT_TRUE(run.Display->Items.contains("25 of 25 copied"));
    EXPECT_EQ(run.Display->Steps, 25);
    EXPECT_EQ(run.PhotosFailed, 0);
    EXPECT_EQ(AllFiles(Pictures).size(), 25);
    for (int i : {0, 24})
        ExpectQuadrants(Pictures + QString::number(100 + i) + ".jpg", QSize(320, 240), i);
    EXPECT_EQ(app::DetailLog.Text(), "\r\nPhotos\r\n\r\nMusic: 0/0\r\nPhotos: 25/25\r\nTo iTunes: 0, 0");
}

TEST_F(StagesTest, ThumbnailsNotWrittenAreLoggedAndNotCounted) {
    fixtures::PhotoSet set = fixtures::MakePhotoSet(1024, 1009, 4, false, 2);
    set.Containers["F1024_2.ithmb"].chop(10); // the last photo's image is cut short
    auto photos = ThumbnailPhotos(DeviceRoot, set, Pictures);
    QDir().mkpath(Pictures + "101.jpg");
    TransferRun run;
    Run(run, 0, 4, false, false, false, false, 0, false, photos.get());
    EXPECT_TRUE(app::DetailLog.Text().contains(
        "\r\nPhotos\r\n101.jpg :name in use\r\n103.jpg :image cannot be read\r\n"))
        << app::DetailLog.Text().toStdString();
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nPhotos: 2/4\r\nTo iTunes: 0, 0"));
    // A stage that fails part-way, or never runs, says what was written.
    app::DetailLog.Clear();
    photos->OutputFolder = Temp.path() + "/missing/";
    TransferRun failed;
    Run(failed, 0, 4, false, false, false, false, 0, false, photos.get());
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nPhotos: 0/4\r\nTo iTunes: 0, 0"));

    app::DetailLog.Clear();
    photos->OutputFolder = Pictures;
    AddTrack("Song", "A.mp3", "a");
    device::TArtworkDb art("E:", false);
    const QByteArray tmp = qgetenv("TMPDIR");
    WriteBytes(Temp.path() + "/file", "not a folder");
    qputenv("TMPDIR", (Temp.path() + "/file").toUtf8());
    TransferRun neverRan;
    Run(neverRan, 1, 4, false, false, false, false, 1, true, photos.get(), &art);
    tmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.contains("[X]Reason: Cannot create a temporary folder for the artworks."))
        << log.toStdString();
    EXPECT_TRUE(log.endsWith("\r\nMusic: 1/1\r\nPhotos: 0/4\r\nTo iTunes: 0, 0"));
}
