#include "transfer_helpers.h"

#include "device/ArtworkDb.h"

using namespace transfer_test;

using PhotoStageTest = TransferTest;

TEST_F(PhotoStageTest, FullSizePhotosTakeTheFirstFreeNumberedName) {
    AddPhoto(":Full Resolution:2024:A:IMG_0001.JPG", "first");
    AddPhoto(":Full Resolution:2024:B:IMG_0001.JPG", "second");
    Photos->Photos.Add()->FullResName = ":Full Resolution:x.jpg"; // not ticked
    TransferRun run;
    run.Display->CheckedPhotos = 2;
    Run(run, 0, 2, false, false, false, false, 0, false, Photos.get());
    EXPECT_EQ(ReadBytes(Pictures + "IMG_0001.JPG"), "first");
    EXPECT_EQ(ReadBytes(Pictures + "1_IMG_0001.JPG"), "second");
    // Photos only: the stage shows from the start and the log keeps no mode line.
    EXPECT_EQ(run.Display->Titles.first(), "Transferring photos");
    EXPECT_EQ(run.Display->Steps, 2);
    EXPECT_EQ(app::DetailLog.Text(), "\r\nPhotos\r\n\r\nMusic: 0/0\r\nPhotos: 2/2\r\nTo iTunes: 0, 0");
    EXPECT_TRUE(run.Display->BusyStopped && run.Display->DoneShown);
}

TEST_F(PhotoStageTest, MissingPhotosAreLoggedOnceAndCounted) {
    QDir().mkpath(DeviceRoot + "/Photos/Full Resolution");
    for (int i = 0; i < 10; ++i)
        AddPhoto(QStringLiteral(":Full Resolution:M%1.JPG").arg(i), QByteArray());
    AddPhoto(":..:..:escape.JPG", QByteArray());
    TransferRun run;
    Run(run, 0, 11, false, false, false, false, 0, false, Photos.get());
    const QString log = app::DetailLog.Text();
    EXPECT_EQ(log.count(":not found\r\n"), 1);
    EXPECT_TRUE(log.contains("M0.JPG :not found\r\n:Full Resolution:M0.JPG\r\n" + Pictures + "M0.JPG\r\n"));
    EXPECT_TRUE(log.contains("escape.JPG :not found (outside the device)"));
    EXPECT_TRUE(log.endsWith("Photos: 0/11\r\nTo iTunes: 0, 0"));
    EXPECT_EQ(run.Display->Steps, 11);

    // Without the folder on the device, and then without the device.
    app::DetailLog.Clear();
    QDir(DeviceRoot + "/Photos/Full Resolution").removeRecursively();
    TransferRun noFolder;
    Run(noFolder, 0, 11, false, false, false, false, 0, false, Photos.get());
    EXPECT_TRUE(app::DetailLog.Text().contains(
        Pictures + "M0.JPG :path not found\r\nSource path\r\n:Full Resolution:M0.JPG\r\n"));
    app::DetailLog.Clear();
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'C', "/", platform::DriveFixed, {}}});
    TransferRun gone;
    Run(gone, 0, 11, false, false, false, false, 0, false, Photos.get());
    EXPECT_TRUE(app::DetailLog.Text().contains("M0.JPG :path not found\r\n\r\nLose iPod, please check the "
                                               "connection between iPod and computer.\r\n\r\n"));
    EXPECT_EQ(app::DetailLog.Text().count(":path not found"), 1);
}

TEST_F(PhotoStageTest, CancelCountsThePhotosNotHandled) {
    for (int i = 0; i < 10; ++i)
        AddPhoto(QStringLiteral(":P%1.JPG").arg(i), "p");
    TransferRun run;
    CancelAt(run, "3 of 10 copied");
    Run(run, 0, 10, false, false, false, false, 0, false, Photos.get());
    EXPECT_TRUE(app::DetailLog.Text().contains("Photos: 3/10"));
    EXPECT_FALSE(QFileInfo::exists(Pictures + "P3.JPG"));
}

TEST_F(PhotoStageTest, StagesRunInOrderAfterACancelAndLeaveTheUsersFiles) {
    AddTrack("One", "1.mp3", "1");
    AddTrack("Two", "2.mp3", "2");
    AddPhoto(":Q.JPG", "q");
    auto art = std::make_unique<device::TArtworkDb>("E:", false);
    const QString artFolder = Music + "Artworks/";
    QDir().mkpath(artFolder);
    art->OutputFolder = artFolder;
    for (int i = 0; i < 3; ++i) {
        art->Arts.Add();
        WriteBytes(artFolder + QString::number(i) + ".bmp", "bmp");
    }
    WriteBytes(artFolder + "keep.txt", "k");
    TransferRun run;
    CancelAt(run, "1/2");
    // No artwork is marked, so the export writes nothing; the stage still runs, and files of
    // the user named like its bitmaps stay.
    Run(run, 2, 1, false, false, false, false, 1, true, Photos.get(), art.get());
    EXPECT_TRUE(run.Display->Titles.contains("Transferring artworks of songs"));
    // The full-size copy tests the cancel before its first photo.
    const QString log = app::DetailLog.Text();
    EXPECT_LT(log.indexOf("\r\nArtworks\r\n"), log.indexOf("\r\nPhotos\r\n"));
    EXPECT_TRUE(log.endsWith("\r\nMusic: 1/2\r\nPhotos: 0/1\r\nTo iTunes: 0, 0"));
    EXPECT_EQ(AllFiles(artFolder), QStringList({"0.bmp", "1.bmp", "2.bmp", "keep.txt"}));
}
