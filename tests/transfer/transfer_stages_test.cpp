// The album-art, iTunes and photo stages of a transfer, run through the copy thread with a
// headless panel; the thumbnail and artwork databases are written by the fixtures.
#include "transfer_helpers.h"

#include "device/ArtworkDb.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "transfer/TrackCopy.h"

#include <optional>

using namespace transfer_test;

TEST_F(TransferTest, ArtworkBitmapsLiveInAPrivateFolderUntilTheEnd) {
    fixtures::WriteArtSet(fixtures::DeviceTree(DeviceRoot), fixtures::MakeArtSet(1028, 1017, 14, false, 5), false);
    device::TArtworkDb art("E:", false);
    ASSERT_TRUE(art.Load());
    for (int i = 0; i < 14; ++i)
        art.Arts.GetItem(i)->Selected = i == 3 || i == 9 ? 0 : 1;
    // Files of the user that look like the bitmaps are none of the transfer's business.
    art.OutputFolder = Music + "Artworks/";
    WriteFile(Music + "Artworks/0.bmp", "the user's");
    AddTrack("Song", "A.mp3", "a");
    TransferRun run;
    QStringList bitmaps;
    QString folder;
    run.Display->OnItem = [&, d = run.Display.get()](const QString& text) {
        // The iTunes stage follows the artwork stage: the bitmaps are there for it.
        if (text != "Starting iTunes, please wait ...")
            return;
        folder = d->Thread->ArtworkFolder();
        EXPECT_EQ(QFileInfo(folder).permissions() & 0x77, 0); // nothing for the group and others
        bitmaps = AllFiles(folder);
    };
    Run({.MusicCount = 1, .ArtworkCount = 12, .ToITunes = true, .CopyArtwork = true}, nullptr, &art, std::move(run));
    EXPECT_TRUE(bitmaps.size() == 12 && !bitmaps.contains("3.bmp") && !bitmaps.contains("9.bmp"))
        << bitmaps.join(' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(AllFiles(Music + "Artworks/"), QStringList{"0.bmp"});

    // A cancel: the track on screen is still copied, none after it; the artwork stage still runs,
    // before the photos, and the full-size copy tests the cancel before its first photo.
    app::DetailLog.Clear();
    AddTrack("Next", "B.mp3", "b");
    AddPhoto(":Q.JPG", "q");
    Run({.MusicCount = 2, .PhotoCount = 1, .ArtworkCount = 1, .CopyArtwork = true}, Photos.get(), &art,
        CancelAt("1/2"));
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.contains("\r\nArtworks\r\n") && log.indexOf("\r\nArtworks\r\n") < log.indexOf("\r\nPhotos\r\n"));
    EXPECT_TRUE(log.endsWith("\r\nMusic: 1/2\r\nPhotos: 0/1\r\nTo iTunes: 0, 0")) << log.toStdString();
    // No private folder to be had: the stage says so.
    const QByteArray tmp = qgetenv("TMPDIR");
    WriteFile(Temp.path() + "/file", "not a folder");
    qputenv("TMPDIR", (Temp.path() + "/file").toUtf8());
    Run({.MusicCount = 1, .PhotoCount = 1, .ArtworkCount = 1, .CopyArtwork = true}, Photos.get(), &art);
    tmp.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmp);
    EXPECT_TRUE(app::DetailLog.Text().contains("[X]Reason: Cannot create a temporary folder for the artworks."));
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nPhotos: 0/1\r\nTo iTunes: 0, 0")); // the stage never ran
}

// A missing container has one line and its photos none; a file of a photo's name that is not
// the photo's keeps its name; runs again into the folder count the photos found there and
// add nothing; an export that fails part-way counts only the files it wrote.
TEST_F(TransferTest, ThumbnailExportRunsToItsEndAfterACancelAndCountsWhatItWrote) {
    fixtures::PhotoSet set = fixtures::MakePhotoSet(1024, 1009, 6, false, 2);
    set.Containers["F1024_2.ithmb"].chop(10); // the last photo's image is cut short
    set.Containers.erase("F1024_3.ithmb");
    fixtures::WritePhotoSet(fixtures::DeviceTree(DeviceRoot), set, false);
    device::TPhotoDb photos("E:", false);
    ASSERT_TRUE(photos.Load());
    for (int i = 0; i < photos.Photos.Count(); ++i)
        photos.Photos.GetItem(i)->Selected = 1;
    photos.OutputFolder = Pictures;
    QDir().mkpath(Pictures + "101.jpg");
    for (int again = 0; again < 3; ++again) {
        app::DetailLog.Clear();
        TransferRun run = CancelAt("1 of 6 copied"); // the thumbnail export does not test a cancel
        run.Display->CheckedPhotos = 6;
        photos.OnProgress = [d = run.Display.get()] { d->OnCopyProgress(); };
        Run({.PhotoCount = 6, .PhotoDestHasFiles = again > 0}, &photos, nullptr, std::move(run));
        EXPECT_EQ(AllFiles(Pictures), QStringList({"100.jpg", "102.jpg", "1_101.jpg"}));
        EXPECT_EQ(app::DetailLog.Text(), "\r\nPhotos\r\n1024_3 :RGB file not found.\r\n103.jpg :image cannot be read"
                                         "\r\n\r\nMusic: 0/0\r\nPhotos: 3/6\r\nTo iTunes: 0, 0");
    }

    app::DetailLog.Clear();
    QDir(Pictures).removeRecursively();
    QDir().mkpath(Pictures);
    // The disk fills up once the first photo is written. The limit is the whole process's: it is
    // set on this thread, while the export waits for its progress line to be shown.
    std::optional<FileSizeLimit> full;
    TransferRun failing;
    failing.Display->CheckedPhotos = 6;
    failing.Display->OnItem = [&](const QString& text) {
        if (text.startsWith("1 of 6"))
            full.emplace(1);
    };
    photos.OnProgress = [d = failing.Display.get()] { d->OnCopyProgress(); };
    Run({.PhotoCount = 6}, &photos, nullptr, std::move(failing));
    full.reset();
    EXPECT_EQ(AllFiles(Pictures), QStringList({"100.jpg"}));
    EXPECT_TRUE(app::DetailLog.Text().contains("\r\n[X]Reason: Cannot create file \"" + Pictures + "101.jpg\""));
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nPhotos: 1/6\r\nTo iTunes: 0, 0"))
        << app::DetailLog.Text().toStdString();
}

// Full-size photos: clashing names, missing and refused files, a cancel.
TEST_F(TransferTest, FullSizePhotosNamesGapsAndACancel) {
    AddPhoto(":Full Resolution:2024:A:IMG_0001.JPG", "first");
    AddPhoto(":Full Resolution:2024:B:IMG_0001.JPG", "second");
    Photos->Photos.Add()->FullResName = ":Full Resolution:x.jpg"; // not ticked
    AddPhoto(":..:..:escape.JPG", QByteArray());
    for (int i = 0; i < 3; ++i)
        AddPhoto(QStringLiteral(":Full Resolution:M%1.JPG").arg(i), QByteArray());
    for (int i = 0; i < 3; ++i)
        AddPhoto(QStringLiteral(":P%1.JPG").arg(i), "p");
    Run({.PhotoCount = 9}, Photos.get(), nullptr, CancelAt("8 of 9 copied"));
    EXPECT_EQ(std::pair(ReadFile(Pictures + "IMG_0001.JPG"), ReadFile(Pictures + "1_IMG_0001.JPG")),
              std::pair(QByteArray("first"), QByteArray("second")));
    EXPECT_FALSE(QFileInfo::exists(Pictures + "P2.JPG"));
    // Photos only: the log keeps no mode line; one missing photo is logged.
    const QString failures = QString("\r\nPhotos\r\nescape.JPG :not found (outside the device)\r\n:..:..:escape.JPG"
                                     "\r\nM0.JPG :not found\r\n:Full Resolution:M0.JPG\r\n%1M0.JPG\r\n\r\nMusic: 0/0")
                                 .arg(Pictures);
    EXPECT_EQ(app::DetailLog.Text(), failures + "\r\nPhotos: 4/9\r\nTo iTunes: 0, 0");

    // Runs again: a file holding a photo's bytes stands for it and counts. A file cut short,
    // or another device's photo of the same name and size, gets the next numbered name.
    QStringList files{"1_IMG_0001.JPG", "IMG_0001.JPG", "P0.JPG", "P1.JPG", "P2.JPG"};
    for (int again = 0; again < 4; ++again) {
        if (again == 2) {
            QFile::resize(Pictures + "IMG_0001.JPG", 2);
            WriteFile(DeviceRoot + "/Photos/Full Resolution/2024/B/IMG_0001.JPG", "SECOND");
            files += {"2_IMG_0001.JPG", "3_IMG_0001.JPG"};
            files.sort();
        }
        app::DetailLog.Clear();
        Run({.PhotoCount = 9, .PhotoDestHasFiles = true}, Photos.get());
        EXPECT_EQ(AllFiles(Pictures), files);
        EXPECT_EQ(app::DetailLog.Text(), failures + "\r\nPhotos: 5/9\r\nTo iTunes: 0, 0");
    }
    EXPECT_EQ(std::pair(ReadFile(Pictures + "2_IMG_0001.JPG"), ReadFile(Pictures + "3_IMG_0001.JPG")),
              std::pair(QByteArray("first"), QByteArray("SECOND")));

    // Any other error stops the stage: the photo and those after it count as not copied.
    Photos->Photos.Clear();
    AddPhoto(":S0.JPG", "s");
    AddPhoto(":Gone.JPG", QByteArray());
    AddPhoto(":Big.JPG", QByteArray(2 << 20, 'b'));
    AddPhoto(":S1.JPG", "s");
    app::DetailLog.Clear();
    {
        const FileSizeLimit full(1 << 20);
        Run({.PhotoCount = 4}, Photos.get());
    }
    EXPECT_TRUE(QFileInfo::exists(Pictures + "S0.JPG") && !QFileInfo::exists(Pictures + "S1.JPG"));
    EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\n[X]Stopped at: :Big.JPG\r\nReason: " + app::SystemErrorText(EFBIG) +
                                               "\r\nMusic: 0/0\r\nPhotos: 1/4\r\nTo iTunes: 0, 0"))
        << app::DetailLog.Text().toStdString();
}
