// The transfer as a user runs it in the window: the set-up's refusals, tick, Copy, Start,
// cancel or wait for Done, close the panel.
#include "tests/app/window_helpers.h"

#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "transfer/CopyThread.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

TEST_F(WindowTest, TransferRefusedCancelledThenRunToTheEndWithTheITunesBoxTicked) {
    fixtures::FixtureDb db = WindowDb();
    db.Tracks[1].Title = "delta"; // a clash with the first track's name
    const fixtures::DeviceTree tree = MakeIpod('E', db);
    tree.WriteMusicFiles(db);
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
    TZozoDodiFrm& w = OpenShown();
    const QString out = Temp.filePath("out/music"), pics = Temp.filePath("out/pictures");
    w.PicOutEdit->setText(pics);
    const auto waitForThreadEnd = [&] {
        while (w.CopyThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    EXPECT_EQ(BoxesStarting("No music or photo has been selected to transfer."), 1);
    // Photos only: the music fields hide.
    for (int i = 0; i < 2; ++i)
        w.PhotoDb->Photos.GetItem(i)->Selected = 1;
    w.FCheckedPhotos = 2;
    ASSERT_TRUE(w.PrepareExport());
    EXPECT_TRUE(w.OutEdit->isHidden());
    EXPECT_TRUE(w.Trlb->text().contains("\n* No song or video\n\nTotal: "));
    w.NoIpodBtnClick();
    // A folder that cannot be made, and an empty field whose picker closes without a choice.
    w.CheckAllTracks();
    ASSERT_TRUE(w.PrepareExport());
    QFile(Temp.filePath("file")).open(QIODevice::WriteOnly);
    TZozoDodiFrm::FolderPickerHook = [](const QString&) { return QString(); };
    for (auto [field, box] : {std::pair{Temp.filePath("file/music"), "Can not create the folder to save the music."},
                              {"  ", "Please choose a folder to save the music files."}}) {
        w.OutEdit->setText(field);
        QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
        EXPECT_EQ(BoxesStarting(box), 1);
        EXPECT_FALSE(w.FCopying);
    }
    TZozoDodiFrm::FolderPickerHook = nullptr;

    // No event has been processed yet, so the thread waits in its first report: it is alive.
    w.OutEdit->setText(out);
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    ASSERT_TRUE(w.TransferThreadAlive());
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(w.StatusLb->text(), "The transfer is ending, please wait ...");
    EXPECT_FALSE(w.PrepareExport());
    EXPECT_EQ(BoxesStarting("The last transfer is still ending. Please try again in a moment."), 1);
    waitForThreadEnd();
    // It stopped before its first track, and its log went with it.
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(app::DetailLog.Text().isEmpty()) << app::DetailLog.Text().toStdString();

    ASSERT_TRUE(w.PrepareExport());
    QTest::mouseClick(w.SyncCb, Qt::LeftButton, {}, QPoint(5, w.SyncCb->height() / 2));
    ASSERT_TRUE(w.SyncCb->isChecked());
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_FALSE(w.FormCloseQuery()); // not while the panel is up
    waitForThreadEnd();
    EXPECT_EQ(w.CopyPrgs->value(), w.CopyPrgs->maximum());
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Charlie.M4V", "Echo alpha.m4a", "bravo.mov", "delta.mp3", "delta1.mp3"}));
    EXPECT_EQ(QDir(pics).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        "\r\nAdd to iTunes:\r\n5/5\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\nReason: iTunes is not "
        "installed on this computer\r\n- done.\r\nPhotos\r\n\r\nMusic: 5/5\r\nPhotos: 2/2\r\nTo iTunes: -1, -1"))
        << app::DetailLog.Text().toStdString();
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(app::DetailLog.Text().isEmpty());
    EXPECT_TRUE(w.FormCloseQuery());
    EXPECT_EQ(std::vector(Opened.end() - 2, Opened.end()),
              std::vector({QUrl::fromLocalFile(out + "/"), QUrl::fromLocalFile(pics + "/")}));
}

TEST(TransferWindowFolders, AFolderWithOnlyAHiddenFileIsNotEmpty) {
    QTemporaryDir temp;
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.filePath("missing")));
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
    QFile(temp.filePath(".hidden")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
}
