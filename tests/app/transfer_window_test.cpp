// The transfer as a user runs it in the window: tick, Copy, Start, wait for Done, close the
// panel; and the set-up's refusals.
#include "tests/app/window_helpers.h"

#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "transfer/CopyThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

namespace {

void WaitForThreadEnd(TZozoDodiFrm& w) {
    while (w.CopyThread)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

class TransferWindowTest : public WindowTest {
protected:
    TZozoDodiFrm& OpenWithMusicAndPhotos() {
        fixtures::FixtureDb db = WindowDb();
        db.Tracks[1].Title = "delta"; // a clash with the first track's name
        fixtures::DeviceTree tree = MakeIpod('E', db);
        tree.WriteMusicFiles(db);
        fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
        TZozoDodiFrm& w = Open();
        Out = Temp.filePath("out/music");
        Pics = Temp.filePath("out/pictures");
        w.OutEdit->setText(" " + Out + " ");
        w.PicOutEdit->setText(Pics);
        return w;
    }
    void TickPhotos(TZozoDodiFrm& w, int n) {
        ASSERT_TRUE(Window->PhotoDb);
        for (int i = 0; i < n; ++i)
            Window->PhotoDb->Photos.GetItem(i)->Selected = 1;
        w.FCheckedPhotos = n;
    }
    QString Out, Pics;
};

TEST_F(TransferWindowTest, FullTransferOfTracksAndPhotos) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    w.CheckAllTracks();
    TickPhotos(w, 2);
    ASSERT_EQ(w.FCheckedCount, 5);
    w.FormatLst->setCurrentIndex(0);

    ASSERT_TRUE(w.PrepareExport());
    EXPECT_EQ(w.NotePgc->currentWidget(), w.SetTab);
    EXPECT_TRUE(w.Trlb->text().startsWith("5 songs and videos, approx 14.65 KB\n2 photos, approx "));

    w.ExpBtn->click();
    EXPECT_FALSE(w.CopyPnl->isHidden());
    EXPECT_EQ(w.OutEdit->text(), Out + "/");
    // The window refuses to close while the panel is up.
    EXPECT_FALSE(w.FormCloseQuery());

    WaitForThreadEnd(w);
    EXPECT_EQ(w.Tilb->text(), "All done");
    EXPECT_EQ(w.CancelBtn->Caption(), "Done");
    EXPECT_EQ(w.CopyPrgs->value(), w.CopyPrgs->maximum());
    EXPECT_EQ(QDir(Out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Charlie.M4V", "Echo alpha.m4a", "bravo.mov", "delta.mp3", "delta1.mp3"}));
    EXPECT_EQ(QDir(Pics).entryList(QDir::Files).size(), 2);
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.endsWith("\r\nMusic: 5/5\r\nPhotos: 2/2\r\nTo iTunes: 0, 0")) << log.toStdString();

    w.CancelBtnClick();
    EXPECT_TRUE(w.CopyPnl->isHidden());
    EXPECT_TRUE(app::DetailLog.Text().isEmpty());
    EXPECT_TRUE(w.FormCloseQuery());
    ASSERT_GE(Opened.size(), 2u);
    EXPECT_EQ(Opened[Opened.size() - 2], QUrl::fromLocalFile(Out + "/"));
    EXPECT_EQ(Opened.back(), QUrl::fromLocalFile(Pics + "/"));
}

TEST_F(TransferWindowTest, CopyAndStartRefusals) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    EXPECT_FALSE(w.PrepareExport());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "No music or photo has been selected to transfer.");

    // Photos only: the music fields hide and only the photo folder is made.
    TickPhotos(w, 3);
    ASSERT_TRUE(w.PrepareExport());
    EXPECT_TRUE(w.OutEdit->isHidden());
    EXPECT_TRUE(w.Trlb->text().contains("\n* No song or video\n\nTotal: "));
    w.NoIpodBtnClick();

    // A folder that cannot be made stops Start with the page still up.
    w.CheckAllTracks();
    ASSERT_TRUE(w.PrepareExport());
    QFile(Temp.filePath("file")).open(QIODevice::WriteOnly);
    w.OutEdit->setText(Temp.filePath("file/music"));
    Boxes.clear();
    w.ExpBtnClick();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Can not create the folder to save the music.");
    EXPECT_FALSE(w.FCopying);

    // An empty field asks for a folder; a picker closed without a choice leaves the page up.
    w.OutEdit->setText("  ");
    Boxes.clear();
    QString asked;
    TZozoDodiFrm::FolderPickerHook = [&](const QString& caption) {
        asked = caption;
        return QString();
    };
    w.ExpBtnClick();
    TZozoDodiFrm::FolderPickerHook = nullptr;
    EXPECT_EQ(asked, "Select folder to save music files");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Please choose a folder to save the music files.");
    EXPECT_FALSE(w.FCopying);

    // The device gone at Start.
    w.OutEdit->setText(Out);
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    Boxes.clear();
    w.ExpBtnClick();
    EXPECT_TRUE(w.CopyPnl->isHidden());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Boxes[0].Text.startsWith("Lost connection to the iPod device."));
}

TEST(TransferWindowFolders, AFolderWithOnlyAHiddenFileIsNotEmpty) {
    QTemporaryDir temp;
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.filePath("missing")));
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
    QFile(temp.filePath(".hidden")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
}

TEST_F(TransferWindowTest, CancelWhileRunningHoldsTheWindowUntilTheFinalReport) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    w.CheckAllTracks();
    ASSERT_TRUE(w.PrepareExport());
    w.ExpBtnClick();
    ASSERT_TRUE(w.FCopying);
    // No event has been processed yet, so the thread waits in its first report: it is alive.
    ASSERT_TRUE(w.TransferThreadAlive());
    w.CancelBtnClick();
    EXPECT_TRUE(w.CopyPnl->isHidden());
    EXPECT_TRUE(w.TransferThreadAlive());
    EXPECT_EQ(w.StatusLb->text(), "The transfer is ending, please wait ...");
    Boxes.clear();
    EXPECT_FALSE(w.PrepareExport());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "The last transfer is still ending. Please try again in a moment.");
    WaitForThreadEnd(w);
    // It stopped before its first track.
    EXPECT_TRUE(QDir(Out).entryList(QDir::Files).isEmpty());
    EXPECT_NE(w.StatusLb->text(), "The transfer is ending, please wait ...");
    EXPECT_TRUE(w.PrepareExport());
}

TEST_F(TransferWindowTest, CancelledTransferLeavesNoLogForTheNextOne) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    w.show();
    w.CheckAllTracks();
    ASSERT_TRUE(w.PrepareExport());
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    ASSERT_TRUE(w.TransferThreadAlive());
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_FALSE(w.FCopying);
    ASSERT_EQ(w.StatusLb->text(), "The transfer is ending, please wait ...");
    WaitForThreadEnd(w);
    EXPECT_TRUE(app::DetailLog.Text().isEmpty()) << app::DetailLog.Text().toStdString();
}

TEST_F(TransferWindowTest, TickedITunesBoxEndsInTheFailedStart) {
    TZozoDodiFrm& w = OpenWithMusicAndPhotos();
    w.CheckAllTracks();
    ASSERT_TRUE(w.PrepareExport());
    QTest::mouseClick(w.SyncCb, Qt::LeftButton, {}, QPoint(5, w.SyncCb->height() / 2));
    ASSERT_TRUE(w.SyncCb->isChecked());
    w.ExpBtn->click();
    WaitForThreadEnd(w);
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(
        log.endsWith("\r\nAdd to iTunes:\r\n5/5\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\n"
                     "Reason: iTunes is not installed on this computer\r\n- done.\r\nMusic: 5/5\r\n"
                     "Photos: 0/0\r\nTo iTunes: -1, -1"))
        << log.toStdString();
}
