// The About and detail windows, the music-list mode switched from the window, and the help
// pages and links as a user reaches them with the mouse.
#include "tests/app/window_helpers.h"

#include "app/IpodAboutFrm.h"
#include "app/IpodDetailFrm.h"
#include "transfer/CopyThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

class AboutWindowTest : public WindowTest {
protected:
    // Clicks `opener` and runs `inside` on the modal window of type Dlg that it shows; `inside`
    // must close it.
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
    static void ClickSurface(QWidget& about) {
        QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(about.width() - 4, 4));
    }

    QString LastPage() const { return Opened.empty() ? QString() : Opened.back().fileName(); }

    // Ticks every track, then Copy and Start; returns when the transfer has ended.
    void CopyAll(TZozoDodiFrm& w, const QString& out) {
        w.OutEdit->setText(out);
        w.CheckAllTracks();
        QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
        QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
        while (w.CopyThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_FALSE(w.DetailLb->isHidden());
    }
};

TEST_F(AboutWindowTest, TransfersInBothModesTheDetailWindowAndTheLinks) {
    fixtures::FixtureDb db = WindowDb();
    MakeIpod('E', db).WriteMusicFiles(db, 2000); // the larger files stay missing: a log with failures
    TZozoDodiFrm& w = OpenShown();
    // The detail window: the log's lines between the opening lines and the system line.
    CopyAll(w, Temp.filePath("copies"));
    const QStringList log = app::DetailLog.Text().split("\r\n");
    ASSERT_GE(log.size(), 3);
    InModal<TIpodDetailFrm>(w.DetailLb, [&](TIpodDetailFrm& detail) {
        const QStringList lines = detail.DetailMm->toPlainText().split(u'\n');
        ASSERT_EQ(lines.size(), log.size() + 4);
        EXPECT_EQ(lines[2], TIpodAboutFrm(&w).tilb->text()); // the same version as the About window's
        EXPECT_EQ(lines.mid(3, log.size()), log);
        EXPECT_TRUE(QRegularExpression("^Linux:\\d+\\.\\d+$").match(lines.back()).hasMatch());
        QTest::mouseClick(detail.SupportLb, Qt::LeftButton);
        EXPECT_EQ(LastPage(), "index.html");
        QTest::keyClick(detail.DetailMm, Qt::Key_Return); // Close is the default button
    });
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));

    // The mode ticked asks at once; "No" opens nothing.
    const size_t boxes = Boxes.size();
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        EXPECT_FALSE(about.UseDebug->isChecked());
        QTest::mouseClick(about.tilb, Qt::LeftButton); // a text does not close the window
        EXPECT_TRUE(about.isVisible());
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlListOnly); // at once, before the window closes
        QTest::mouseClick(about.Linklb, Qt::LeftButton);
        EXPECT_EQ(LastPage(), "index.html");
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
    EXPECT_EQ(LastPage(), "diag.html");
    EXPECT_TRUE(QFileInfo(Opened.back().toLocalFile()).isFile());

    // The mode's transfer writes only the list, after its notice at Start.
    CopyAll(w, Temp.filePath("list"));
    EXPECT_TRUE(Boxes.back().Text.startsWith("You have selected \"Generate the music list only\" mode."));
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
        EXPECT_EQ(LastPage(), page);
        EXPECT_TRUE(QFileInfo(Opened[0].toLocalFile()).isFile()) << page;
    }
}
