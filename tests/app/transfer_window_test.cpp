// The transfer as a user runs it in the window: the set-up's refusals, a cancel, a full run and
// its detail window, the music-list mode switched in the About window and its run, and the help
// pages and links as a user reaches them with the mouse.
#include "tests/app/window_helpers.h"

#include "app/IpodAboutFrm.h"
#include "app/IpodDetailFrm.h"
#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "transfer/CopyThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

// Clicks `opener` and runs `inside` on the modal window of type Dlg that it shows; `inside` must
// close it.
template <class Dlg>
void InModal(QWidget* opener, const std::function<void(Dlg&)>& inside) {
    QTimer::singleShot(0, [&] {
        QPointer<QWidget> d = qobject_cast<Dlg*>(QApplication::activeModalWidget());
        ASSERT_TRUE(d);
        inside(*static_cast<Dlg*>(d.data()));
        EXPECT_TRUE(!d || d->isHidden());
        if (d)
            d->hide();
    });
    QTest::mouseClick(opener, Qt::LeftButton);
    QCoreApplication::processEvents();
}

// A click on the About window where none of its texts lies.
void ClickSurface(QWidget& about) {
    QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(about.width() - 4, 4));
}

void WaitForThreadEnd(TZozoDodiFrm& w) {
    while (w.CopyThread)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

TEST_F(WindowTest, TransfersTheAboutAndDetailWindowsAndTheLinks) {
    fixtures::FixtureDb db = WindowDb();
    db.Tracks[1].Title = "delta"; // a clash with the first track's name
    const fixtures::DeviceTree tree = MakeIpod('E', db);
    tree.WriteMusicFiles(db);
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
    TZozoDodiFrm& w = OpenShown();
    const QString out = Temp.filePath("out/music"), pics = Temp.filePath("out/pictures");
    w.PicOutEdit->setText(pics);
    const auto lastPage = [&] { return Opened.empty() ? QString() : Opened.back().fileName(); };
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
    WaitForThreadEnd(w);
    // It stopped before its first track, and its log went with it.
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(app::DetailLog.Text().isEmpty()) << app::DetailLog.Text().toStdString();

    ASSERT_TRUE(w.PrepareExport());
    QTest::mouseClick(w.SyncCb, Qt::LeftButton, {}, QPoint(5, w.SyncCb->height() / 2));
    ASSERT_TRUE(w.SyncCb->isChecked());
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_FALSE(w.FormCloseQuery()); // not while the panel is up
    WaitForThreadEnd(w);
    EXPECT_EQ(w.CopyPrgs->value(), w.CopyPrgs->maximum());
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Charlie.M4V", "Echo alpha.m4a", "bravo.mov", "delta.mp3", "delta1.mp3"}));
    EXPECT_EQ(QDir(pics).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        "\r\nAdd to iTunes:\r\n5/5\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\nReason: iTunes is not "
        "installed on this computer\r\n- done.\r\nPhotos\r\n\r\nMusic: 5/5\r\nPhotos: 2/2\r\nTo iTunes: -1, -1"))
        << app::DetailLog.Text().toStdString();
    // The detail window: the log's lines between the opening lines and the system line.
    const QStringList log = app::DetailLog.Text().split("\r\n");
    InModal<TIpodDetailFrm>(w.DetailLb, [&](TIpodDetailFrm& detail) {
        const QStringList lines = detail.DetailMm->toPlainText().split(u'\n');
        ASSERT_EQ(lines.size(), log.size() + 4);
        EXPECT_EQ(lines[2], TIpodAboutFrm(&w).tilb->text()); // the same version as the About window's
        EXPECT_EQ(lines.mid(3, log.size()), log);
        EXPECT_TRUE(QRegularExpression("^Linux:\\d+\\.\\d+$").match(lines.back()).hasMatch());
        QTest::mouseClick(detail.SupportLb, Qt::LeftButton);
        EXPECT_EQ(lastPage(), "index.html");
        QTest::keyClick(detail.DetailMm, Qt::Key_Return); // Close is the default button
    });
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(app::DetailLog.Text().isEmpty());
    EXPECT_TRUE(w.FormCloseQuery());
    EXPECT_EQ(std::vector(Opened.end() - 2, Opened.end()),
              std::vector({QUrl::fromLocalFile(out + "/"), QUrl::fromLocalFile(pics + "/")}));

    // The mode ticked asks at once; "No" opens nothing.
    const size_t boxes = Boxes.size();
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        EXPECT_FALSE(about.UseDebug->isChecked());
        QTest::mouseClick(about.tilb, Qt::LeftButton); // a text does not close the window
        EXPECT_TRUE(about.isVisible());
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlListOnly); // at once, before the window closes
        QTest::mouseClick(about.Linklb, Qt::LeftButton);
        EXPECT_EQ(lastPage(), "index.html");
        Opened.clear();
        ClickSurface(about);
    });
    ASSERT_EQ(Boxes.size(), boxes + 1);
    EXPECT_TRUE(Boxes.back().Text.startsWith("The \"Generate the music list only\" has been selected."));
    EXPECT_TRUE(Opened.empty());

    // Shown ticked again: the question again, and "Yes" opens the mode's help page.
    Answer = MsgResult::Yes;
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        EXPECT_TRUE(about.UseDebug->isChecked());
        QTest::keyClick(&about, Qt::Key_Escape);
    });
    ASSERT_EQ(Boxes.size(), boxes + 2);
    EXPECT_EQ(lastPage(), "diag.html");
    EXPECT_TRUE(QFileInfo(Opened.back().toLocalFile()).isFile());

    // The mode's transfer writes only the list, after its notice at Start.
    w.OutEdit->setText(Temp.filePath("list"));
    w.PicOutEdit->setText(Temp.filePath("list pictures"));
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    WaitForThreadEnd(w);
    EXPECT_EQ(BoxesStarting("You have selected \"Generate the music list only\" mode."), 1);
    EXPECT_EQ(QDir(Temp.filePath("list")).entryList(QDir::Files), QStringList{"VRQMusicList.xml"});
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));

    // Cleared: no question.
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        ClickSurface(about);
    });
    EXPECT_EQ(Boxes.size(), boxes + 3);
    EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlCopyFiles);

    w.IphoneErrLb->show(); // as after a failed start of the handheld link
    for (auto [link, page] : {std::pair<QWidget*, const char*>{w.HelpBtn, "index.html"},
                              {w.IphoneErrLb, "ts.html"},
                              {w.Weblb, "index.html"},
                              {w.DiskLink, "disk.html"}}) {
        Opened.clear();
        QTest::mouseClick(link, Qt::LeftButton);
        ASSERT_EQ(Opened.size(), 1u) << page;
        EXPECT_EQ(lastPage(), page);
        EXPECT_TRUE(QFileInfo(Opened[0].toLocalFile()).isFile()) << page;
    }
}

TEST(TransferWindowFolders, AFolderWithOnlyAHiddenFileIsNotEmpty) {
    QTemporaryDir temp;
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.filePath("missing")));
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
    QFile(temp.filePath(".hidden")).open(QIODevice::WriteOnly);
    EXPECT_FALSE(TZozoDodiFrm::IsFolderEmpty(temp.path()));
}
