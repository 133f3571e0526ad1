// The transfer as a user runs it in the window: tick, Copy, Start, cancel or wait for Done,
// close the panel; and the set-up's refusals.
#include "tests/app/window_helpers.h"

#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "transfer/CopyThread.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

class TransferWindowTest : public WindowTest {
protected:
    TZozoDodiFrm& OpenWithMusicAndPhotos() {
        fixtures::FixtureDb db = WindowDb();
        db.Tracks[1].Title = "delta"; // a clash with the first track's name
        const fixtures::DeviceTree tree = MakeIpod('E', db);
        tree.WriteMusicFiles(db);
        fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
        TZozoDodiFrm& w = OpenShown();
        w.OutEdit->setText(" " + Out + " ");
        w.PicOutEdit->setText(Pics);
        return w;
    }
    void TickPhotos(int n) {
        for (int i = 0; i < n; ++i)
            Window->PhotoDb->Photos.GetItem(i)->Selected = 1;
        Window->FCheckedPhotos = n;
    }
    void WaitForThreadEnd() {
        while (Window->CopyThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const QString Out = Temp.filePath("out/music"), Pics = Temp.filePath("out/pictures");
};

TEST_F(TransferWindowTest, CancelledThenRunToTheEndWithTheITunesBoxTicked) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    w.CheckAllTracks();
    TickPhotos(2);
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    EXPECT_TRUE(w.Trlb->text().startsWith("5 songs and videos, approx 14.65 KB\n2 photos, approx "));
    // No event has been processed yet, so the thread waits in its first report: it is alive.
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    ASSERT_TRUE(w.TransferThreadAlive());
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(w.CopyPnl->isHidden());
    EXPECT_EQ(w.StatusLb->text(), "The transfer is ending, please wait ...");
    EXPECT_FALSE(w.PrepareExport());
    EXPECT_EQ(BoxesStarting("The last transfer is still ending. Please try again in a moment."), 1);
    WaitForThreadEnd();
    // It stopped before its first track, and its log went with it.
    EXPECT_TRUE(QDir(Out).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(app::DetailLog.Text().isEmpty()) << app::DetailLog.Text().toStdString();
    ASSERT_TRUE(w.PrepareExport());

    QTest::mouseClick(w.SyncCb, Qt::LeftButton, {}, QPoint(5, w.SyncCb->height() / 2));
    ASSERT_TRUE(w.SyncCb->isChecked());
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_FALSE(w.FormCloseQuery()); // not while the panel is up
    WaitForThreadEnd();
    EXPECT_EQ(w.CancelBtn->Caption(), "Done");
    EXPECT_EQ(w.CopyPrgs->value(), w.CopyPrgs->maximum());
    EXPECT_EQ(QDir(Out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Charlie.M4V", "Echo alpha.m4a", "bravo.mov", "delta.mp3", "delta1.mp3"}));
    EXPECT_EQ(QDir(Pics).entryList(QDir::Files).size(), 2);
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(
        log.endsWith("\r\nAdd to iTunes:\r\n5/5\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\n"
                     "Reason: iTunes is not installed on this computer\r\n- done.\r\nPhotos\r\n\r\nMusic: 5/5\r\n"
                     "Photos: 2/2\r\nTo iTunes: -1, -1"))
        << log.toStdString();
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(app::DetailLog.Text().isEmpty());
    EXPECT_TRUE(w.FormCloseQuery());
    EXPECT_EQ(std::vector(Opened.end() - 2, Opened.end()),
              std::vector({QUrl::fromLocalFile(Out + "/"), QUrl::fromLocalFile(Pics + "/")}));
}

TEST_F(TransferWindowTest, CopyAndStartRefusals) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    EXPECT_FALSE(w.PrepareExport());
    EXPECT_EQ(BoxesStarting("No music or photo has been selected to transfer."), 1);
    // Photos only: the music fields hide.
    TickPhotos(3);
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
}

TEST(TransferWindowFolders, AFolderWithOnlyAHiddenFileIsNotEmpty) {
    QTemporaryDir temp;
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.filePath("missing")));
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
    QFile(temp.filePath(".hidden")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
}
