// The About and detail windows, the music-list mode switched from the window, and the help
// pages and links as a user reaches them with the mouse. Message boxes are real and answered
// from a timer; opened pages are caught at the desktop's URL handler.
#include "tests/app/window_helpers.h"

#include "app/IpodAboutFrm.h"
#include "app/IpodDetailFrm.h"
#include "transfer/CopyThread.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

namespace {

// Stands in for the browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> Urls;
public slots:
    void Open(const QUrl& url) { Urls.push_back(url); }
};

// Answers every message box that comes up, and keeps its text.
class BoxAnswerer : public QObject {
public:
    QMessageBox::StandardButton Answer = QMessageBox::No;
    QStringList Texts;
    BoxAnswerer() {
        connect(&Tick, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible()) continue;
                QAbstractButton* b = box->button(Answer) ? box->button(Answer) : box->buttons().value(0);
                Texts << box->text();
                QTest::mouseClick(b, Qt::LeftButton);
            }
        });
        Tick.start(10);
    }

private:
    QTimer Tick;
};

void WaitForThreadEnd(TZozoDodiFrm& w) {
    while (w.CopyThread)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

class AboutWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        MessageBoxHook = nullptr;
        platform::SetOpenUrlHookForTesting(nullptr);
        TestFlag = qgetenv("MARROWGATE_TEST");
        qunsetenv("MARROWGATE_TEST");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &Browser, "Open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        qputenv("MARROWGATE_TEST", TestFlag);
        WindowTest::TearDown();
    }

    // Clicks `opener` and runs `inside` on the modal window of type Dlg that it shows; `inside`
    // must close it.
    template <class Dlg> void InModal(QWidget* opener, const std::function<void(Dlg&)>& inside) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QPointer<QWidget> d = qobject_cast<Dlg*>(QApplication::activeModalWidget());
            ASSERT_TRUE(d);
            seen = true;
            inside(*static_cast<Dlg*>(d.data()));
            EXPECT_TRUE(!d || d->isHidden());
            if (d) d->hide();
        });
        QTest::mouseClick(opener, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_TRUE(seen);
    }

    // A click on the About window where none of its texts lies.
    static void ClickSurface(QWidget& about) {
        QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(about.width() - 4, 4));
    }

    QString LastPage() const { return Browser.Urls.empty() ? QString() : Browser.Urls.back().fileName(); }

    // Ticks every track, then Copy and Start; returns when the transfer has ended.
    void CopyAll(TZozoDodiFrm& w) {
        w.OutEdit->setText(Out);
        w.CheckAllTracks();
        QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
        ASSERT_EQ(w.NotePgc->currentWidget(), w.SetTab);
        QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
        WaitForThreadEnd(w);
        ASSERT_FALSE(w.DetailLb->isHidden());
    }

    QByteArray TestFlag;
    UrlCatcher Browser;
    BoxAnswerer Answerer;
    QString Out = Temp.filePath(QStringLiteral("out/music"));
};

TEST_F(AboutWindowTest, ModeTickedAndClearedAcrossOpeningsAsksOnlyWhileTicked) {
    TZozoDodiFrm& w = OpenShown();
    Browser.Urls.clear(); // the first run's start page
    const QString question = QStringLiteral("The \"Generate the music list only\" has been selected.\n\n");
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        EXPECT_FALSE(about.UseDebug->isChecked());
        QTest::mouseClick(about.tilb, Qt::LeftButton); // a text does not close the window
        EXPECT_TRUE(about.isVisible());
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlListOnly); // at once, before the window closes
        QTest::mouseClick(about.Linklb, Qt::LeftButton);
        EXPECT_EQ(LastPage(), QStringLiteral("index.html"));
        ClickSurface(about);
    });
    ASSERT_EQ(Answerer.Texts.size(), 1);
    EXPECT_TRUE(Answerer.Texts[0].startsWith(question)) << Answerer.Texts[0].toStdString();
    EXPECT_EQ(Browser.Urls.size(), 1u); // "No" opens nothing
    EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlListOnly);

    // Shown ticked again; the question again, and "Yes" opens the mode's help page.
    Answerer.Answer = QMessageBox::Yes;
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        EXPECT_TRUE(about.UseDebug->isChecked());
        QTest::keyClick(&about, Qt::Key_Escape);
    });
    ASSERT_EQ(Answerer.Texts.size(), 2);
    EXPECT_EQ(LastPage(), QStringLiteral("diag.html"));
    EXPECT_TRUE(QFileInfo(Browser.Urls.back().toLocalFile()).isFile());

    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        ClickSurface(about);
    });
    EXPECT_EQ(Answerer.Texts.size(), 2);
    EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlCopyFiles);
}

TEST_F(AboutWindowTest, MusicListModeFromTheAboutWindowWritesOnlyTheList) {
    MakeIpod('E', WindowDb()).WriteMusicFiles(WindowDb());
    TZozoDodiFrm& w = OpenShown();
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        ClickSurface(about);
    });
    CopyAll(w);
    ASSERT_EQ(Answerer.Texts.size(), 2); // the About question, then the mode's notice at Start
    EXPECT_TRUE(Answerer.Texts[1].startsWith("You have selected \"Generate the music list only\" mode."))
        << Answerer.Texts[1].toStdString();
    EXPECT_EQ(QDir(Out).entryList(QDir::Files), QStringList{QStringLiteral("VRQMusicList.xml")});
}

// The detail window after a transfer that copied nothing (no files on the device) and after
// one that copied every track: the log's lines between the opening lines and the system line.
TEST_F(AboutWindowTest, DetailWindowShowsTheLogBetweenItsOpeningLinesAndTheSystemLine) {
    fixtures::FixtureDb db = WindowDb();
    MakeIpod('E', db).WriteMusicFiles(db, 2000); // the larger files stay missing: a log with failures
    TZozoDodiFrm& w = OpenShown();
    CopyAll(w);
    const QStringList log = app::DetailLog.Text().split(QStringLiteral("\r\n"));
    ASSERT_GE(log.size(), 3);
    InModal<TIpodDetailFrm>(w.DetailLb, [&](TIpodDetailFrm& detail) {
        const QStringList lines = detail.DetailMm->toPlainText().split(u'\n');
        ASSERT_EQ(lines.size(), log.size() + 4);
        EXPECT_EQ(lines[0], QStringLiteral("If you need support, please paste this log into the email."));
        EXPECT_EQ(lines[2], TIpodAboutFrm(&w).tilb->text()); // the same version as the About window's
        EXPECT_EQ(lines.mid(3, log.size()), log);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^Linux:\\d+\\.\\d+$")).match(lines.back()).hasMatch());
        QTest::mouseClick(detail.SupportLb, Qt::LeftButton);
        EXPECT_EQ(LastPage(), QStringLiteral("index.html"));
        QTest::keyClick(detail.DetailMm, Qt::Key_Return); // Close is the default button
    });
}

TEST_F(AboutWindowTest, HelpButtonAndLinksOpenTheirPages) {
    TZozoDodiFrm& w = OpenShown();
    w.IphoneErrLb->show(); // as after a failed start of the handheld link
    const struct {
        QWidget* Link;
        const char* Page;
    } cases[] = {{w.HelpBtn, "index.html"},
                 {w.IphoneErrLb, "ts.html"},
                 {w.Weblb, "index.html"},
                 {w.DiskLink, "disk.html"}};
    for (const auto& c : cases) {
        Browser.Urls.clear();
        QTest::mouseClick(c.Link, Qt::LeftButton);
        ASSERT_EQ(Browser.Urls.size(), 1u) << c.Page;
        EXPECT_EQ(LastPage(), QLatin1String(c.Page));
        EXPECT_TRUE(QFileInfo(Browser.Urls[0].toLocalFile()).isFile()) << c.Page;
    }
}

#include "window_about_test.moc"
