// The window as a user meets it and runs a transfer in it: what fits on screen, the chrome and
// header clicks, the set-up's refusals and folder pickers, a cancel, a full run and its detail
// window, the music-list mode switched in the About window and its run, the help pages and
// links, the eject question, and a damaged or unreadable track database.
#include "tests/app/window_helpers.h"

#include "app/IpodAboutFrm.h"
#include "app/IpodDetailFrm.h"
#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "transfer/CopyThread.h"
#include "widgets/PhotoControl.h"

#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTimer>

// Clicks `opener` and runs `inside` on the modal window of type Dlg that it shows; `inside` must
// close it.
template <class Dlg>
static void InModal(QWidget* opener, const std::function<void(Dlg&)>& inside) {
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

// A fixed-size dialog as the user sees it: its own caption, and on an X server neither a
// minimise nor a maximise button or function asked of the window manager.
static void ExpectFixedDialog(QWidget& dialog, const QString& caption) {
    EXPECT_EQ(std::tuple(dialog.windowTitle(), dialog.windowType()), std::tuple(caption, Qt::Dialog));
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(dialog.winId()), "_NET_WM_NAME", "_MOTIF_WM_HINTS"});
    const QString x = xprop.waitForFinished() ? QString::fromUtf8(xprop.readAllStandardOutput()) : QString();
    EXPECT_TRUE(x.startsWith("_NET_WM_NAME(UTF8_STRING) = \"" + caption + "\"\n")) << x.toStdString();
    // Flags, functions, decorations; "all" (bit 0) in either means every button.
    const QStringList hints = x.section(" = ", -1).trimmed().split(", ");
    ASSERT_GE(hints.size(), 3) << x.toStdString();
    const auto hint = [&](int i, uint bits) { return hints[i].toUInt(nullptr, 16) & bits; };
    EXPECT_TRUE(hint(0, 3) == 3 && !hint(1, 0x19) && !hint(2, 0x61)) << x.toStdString();
}

TEST_F(WindowTest, FromFirstLookThroughEveryKindOfTransfer) {
    fixtures::FixtureDb db = WindowDb();
    db.Tracks[1].Title = "delta"; // a clash with the first track's name
    const fixtures::DeviceTree tree = MakeIpod('E', db);
    tree.WriteMusicFiles(db);
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
    TZozoDodiFrm* first = &OpenShown();
    QTreeWidget* t = first->PlayLstList;
    t->topLevelItem(0)->setText(0, "All music & videos (8888/8888)");
    t->topLevelItem(1)->setText(0, "All photos (8888/8888)");
    EXPECT_LE(static_cast<QAbstractItemView*>(t)->sizeHintForColumn(0), t->viewport()->width());
    // The window grew with the pane: a full row of photos still fits beside it.
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->topLevelItem(1)).center());
    EXPECT_LE(first->PhotoPage->width(), first->PhotoBox->viewport()->width());
    const int wide = first->width();
    Answer = MsgResult::Yes; // a plain folder drive is left alone, without a failure box
    first->close();
    ASSERT_EQ(BoxesStarting("Do you want to eject your iPod now?"), 1);
    EXPECT_TRUE(Boxes.back().endsWith("You can also eject it from iTunes or your file manager later."));
    Answer = MsgResult::No;
    TZozoDodiFrm& w = OpenShown();
    EXPECT_EQ(w.width(), wide); // the saved pane width gives the same window
    // The links' hover colours, seen in the title bar's pixels.
    for (auto [label, hover] : {std::pair{w.Weblb, qRgb(0x75, 0x75, 0x75)}, {w.AboutLb, qRgb(0x80, 0x80, 0x80)}}) {
        const auto corner = [l = label] { return l->parentWidget()->grab(l->geometry()).toImage().pixel(0, 0); };
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QEvent leave(QEvent::Leave);
        const QRgb resting = corner(), hovered = (QCoreApplication::sendEvent(label, &enter), corner());
        QCoreApplication::sendEvent(label, &leave);
        EXPECT_EQ(std::pair(hovered, corner()), std::pair(hover, resting));
    }

    // The name column takes the spare width, so the last column stays in view.
    QHeaderView* h = w.MusicList->header();
    w.resize(w.width() + 150, w.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(h->length(), w.MusicList->viewport()->width());
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          {h->sectionViewportPosition(TrackListModel::ColName) + 20, 5});
    EXPECT_EQ(Titles(), QStringList({"Echo alpha", "delta", "delta", "Charlie", "bravo"}));
    EXPECT_TRUE(h->isSortIndicatorShown() && h->sortIndicatorOrder() == Qt::DescendingOrder);

    const QString out = Temp.filePath("out/music"), pics = Temp.filePath("out/pictures");
    w.PicOutEdit->setText(pics);
    const auto lastPage = [&] { return Opened.empty() ? QString() : Opened.back().fileName(); };
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    EXPECT_EQ(BoxesStarting("No music or photo has been selected to transfer."), 1);
    for (int i = 0; i < 2; ++i)
        w.PhotoDb->Photos.GetItem(i)->Selected = 1;
    w.FCheckedPhotos = 2;
    w.CheckAllTracks();
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);

    // The picker opens at the nearest folder the field names, else at home.
    for (const auto& [field, start] :
         {std::pair{Temp.path() + "/not/yet", Temp.path()}, {QString(" \x01"), QDir::homePath()}}) {
        w.OutEdit->setText(field);
        InModal<QFileDialog>(w.BrowseBtn, [&](QFileDialog& picker) {
            EXPECT_EQ(picker.directory().absolutePath(), start);
            picker.reject();
        });
    }

    // A folder with only a hidden file is not empty.
    fixtures::DeviceTree(Temp.filePath("hidden")).WriteFile(".x", {});
    EXPECT_TRUE(TZozoDodiFrm::IsFolderEmpty(fixtures::DeviceTree(Temp.filePath("empty")).Root()) &&
                !TZozoDodiFrm::IsFolderEmpty(Temp.filePath("hidden")));
    // A folder that cannot be made, and an empty field whose picker closes without a choice.
    QFile(Temp.filePath("file")).open(QIODevice::WriteOnly);
    TZozoDodiFrm::FolderPickerHook = [](const QString&) { return QString(); };
    for (auto [field, box] : {std::pair{Temp.filePath("file/music"), "Can not create the folder to save the music."},
                              {"  ", "Please choose a folder to save the music files."}}) {
        w.OutEdit->setText(field);
        QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
        EXPECT_EQ(BoxesStarting(box), 1);
    }

    // Cancelled while the thread waits in its first report (no event has been processed yet).
    w.OutEdit->setText(out);
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(w.PrepareExport());
    EXPECT_EQ(BoxesStarting("The last transfer is still ending. Please try again in a moment."), 1);
    WaitForThreadEnd(w);
    // It stopped before its first track, and its log went with it.
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty() && app::DetailLog.Text().isEmpty())
        << app::DetailLog.Text().toStdString();

    ASSERT_TRUE(w.PrepareExport());
    QTest::mouseClick(w.SyncCb, Qt::LeftButton, {}, QPoint(5, w.SyncCb->height() / 2)); // to iTunes, as the log shows
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_FALSE(w.FormCloseQuery()); // not while the panel is up
    WaitForThreadEnd(w);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              QStringList({"Charlie.M4V", "Echo alpha.m4a", "bravo.mov", "delta.mp3", "delta1.mp3"}));
    EXPECT_EQ(QDir(pics).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        "\r\nAdd to iTunes:\r\n5/5\r\n[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\nReason: iTunes is not "
        "installed on this computer\r\n- done.\r\nPhotos\r\n\r\nMusic: 5/5\r\nPhotos: 2/2\r\nTo iTunes: -1, -1"))
        << app::DetailLog.Text().toStdString();
    // Every track and photo written: a failed iTunes stage is the log's to tell.
    EXPECT_EQ(std::pair(w.Tilb->text(), w.Namelb->text()), std::pair(QString("All done"), QString()));
    // The detail window: the log's lines between the opening lines and the system line.
    const QStringList log = app::DetailLog.Text().split("\r\n");
    InModal<TIpodDetailFrm>(w.DetailLb, [&](TIpodDetailFrm& detail) {
        ExpectFixedDialog(detail, "Detail");
        const QStringList lines = detail.DetailMm->toPlainText().split(u'\n');
        ASSERT_EQ(lines.size(), log.size() + 4);
        EXPECT_EQ(lines[2], TIpodAboutFrm(&w).tilb->text()); // the same version as the About window's
        EXPECT_EQ(lines.mid(3, log.size()), log);
        EXPECT_TRUE(QRegularExpression("^Linux:\\d+\\.\\d+$").match(lines.back()).hasMatch());
        QTest::keyClick(detail.DetailMm, Qt::Key_Return); // Close is the default button
    });
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(w.FormCloseQuery());
    EXPECT_EQ(std::vector(Opened.end() - 2, Opened.end()),
              std::vector({QUrl::fromLocalFile(out + "/"), QUrl::fromLocalFile(pics + "/")}));

    // The mode ticked asks at once; "No" opens nothing.
    const size_t boxes = Boxes.size();
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        ExpectFixedDialog(about, "About");
        QTest::mouseClick(about.tilb, Qt::LeftButton); // a text does not close the window
        EXPECT_TRUE(about.isVisible());
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        EXPECT_EQ(w.MusicListMode(), TZozoDodiFrm::mlListOnly); // at once, before the window closes
        Opened.clear();
        QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(about.width() - 4, 4)); // where no text lies
    });
    EXPECT_TRUE(Boxes.size() == boxes + 1 &&
                Boxes.back().startsWith("The \"Generate the music list only\" has been selected.") && Opened.empty());

    // Shown ticked again: the question again, and "Yes" opens the mode's help page.
    Answer = MsgResult::Yes;
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        EXPECT_TRUE(about.UseDebug->isChecked());
        QTest::keyClick(&about, Qt::Key_Escape);
    });
    EXPECT_EQ(lastPage(), "diag.html");

    // The mode's transfer writes only the list, after its notice at Start; with only photos
    // ticked, into the music folder that the page does not show.
    for (const bool tracks : {false, true}) {
        tracks ? w.CheckAllTracks() : w.UncheckAllTracks();
        const QString list = Temp.filePath(tracks ? "list" : "photos/list");
        w.OutEdit->setText(list);
        w.PicOutEdit->setText(Temp.filePath("list pictures"));
        QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
        EXPECT_EQ(w.OutEdit->isVisibleTo(w.ErrPnl), tracks);
        QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
        WaitForThreadEnd(w);
        EXPECT_EQ(std::pair(QDir(list).entryList(QDir::Files), w.Tilb->text()),
                  std::pair(QStringList{"VRQMusicList.xml"}, QString("File saved as \"VRQMusicList.xml\"")));
        QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    }
    EXPECT_EQ(BoxesStarting("You have selected \"Generate the music list only\" mode."), 2);

    // Cleared: no question.
    InModal<TIpodAboutFrm>(w.AboutLb, [&](TIpodAboutFrm& about) {
        QTest::mouseClick(about.UseDebug, Qt::LeftButton);
        QTest::mouseClick(&about, Qt::LeftButton, {}, QPoint(about.width() - 4, 4));
    });
    EXPECT_EQ(std::tuple(Boxes.size(), w.MusicListMode()), std::tuple(boxes + 4, TZozoDodiFrm::mlCopyFiles));

    w.IphoneErrLb->show(); // as after a failed start of the handheld link
    for (auto [link, page] : {std::pair<QWidget*, const char*>{w.HelpBtn, "index.html"},
                              {w.IphoneErrLb, "ts.html"},
                              {w.Weblb, "index.html"},
                              {w.DiskLink, "disk.html"}}) {
        Opened.clear();
        QTest::mouseClick(link, Qt::LeftButton);
        EXPECT_EQ(lastPage(), page);
    }
    // No program takes the page: the user is told where it is.
    platform::SetOpenUrlHookForTesting([](const QUrl&) { return false; });
    QTest::mouseClick(w.DiskLink, Qt::LeftButton);
    EXPECT_EQ(Boxes.back(), "No program could open the page. Open it in your web browser:\r\r" +
                                platform::HelpUrl("::/disk.html").toLocalFile());

    // The device's files gone before Start (a drive lost while its folder stayed): the end page
    // says how many items were not copied instead of "All done".
    QDir(tree.Path("iPod_Control/Music")).removeRecursively();
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    w.OutEdit->setText(Temp.filePath("lost"));
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    WaitForThreadEnd(w);
    EXPECT_TRUE(app::DetailLog.Text().contains("\r\nMusic: 0/5\r\nPhotos: 2/2\r\n") && w.DetailLb->isVisible());
    EXPECT_EQ(std::pair(w.Tilb->text(), w.Namelb->text()),
              std::pair(QString("Transfer incomplete"), QString("5 items were not copied. See the Detail Log.")));
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));

    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    // Start trims the field as start-up does; with the device gone it stops after the folders.
    const QString spaced = Temp.filePath("out") + QChar(0xA0); // a no-break space is part of a name
    w.OutEdit->setText("\x01 " + spaced + " \t");
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_TRUE(QFileInfo(spaced).isDir() && BoxesStarting("Lost connection to the iPod device.") == 1);
}

// The output page holds its whole summary and every field the first time each group joins or
// leaves the other, whichever opened before, once it is laid out as on screen.
TEST_F(WindowTest, OutputPageFitsItsContentAfterEveryOrderOfOpenings) {
    const fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
    enum { Songs = 1, Photos = 2, Both = 3 };
    for (const auto& openings : {std::vector{Photos, Both}, {Songs, Both}, {Both, Songs, Photos, Both}}) {
        Window.reset();
        TZozoDodiFrm& w = OpenShown();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTreeWidget* t = w.PlayLstList;
        int ticked = 0;
        for (int groups : openings) {
            for (int g : {Songs, Photos})
                if ((groups ^ ticked) & g) { // a click on the group's node, then on its first box
                    QTest::mouseClick(t->viewport(), Qt::LeftButton, {},
                                      t->visualItemRect(t->topLevelItem(g - 1)).center());
                    g == Songs ? ClickBox(w, 0) : QTest::mouseClick(w.PhotoTiles().at(0), Qt::LeftButton);
                }
            ticked = groups;
            QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
            // Showing the page lays the panel out anew, through the event loop.
            ASSERT_TRUE(QTest::qWaitFor([&] { return w.ErrPnl->layout()->geometry() == w.ErrPnl->contentsRect(); }));
            SCOPED_TRACE(w.Trlb->text().toStdString());
            ASSERT_EQ(std::tuple(w.NotePgc->currentWidget(), w.OutEdit->isVisible(), w.PicOutEdit->isVisible()),
                      std::tuple(w.SetTab, bool(groups & Songs), bool(groups & Photos)));
            for (QWidget* c : w.ErrPnl->findChildren<QWidget*>()) {
                if (!c->isVisibleTo(w.ErrPnl) || c->parentWidget() == w.NotePgc)
                    continue;
                EXPECT_TRUE(w.ErrPnl->rect().contains({c->mapTo(w.ErrPnl, QPoint(0, 0)), c->size()}) &&
                            c->height() >= c->minimumSizeHint().height())
                    << c->metaObject()->className();
            }
            QTest::mouseClick(w.NoIpodBtn, Qt::LeftButton);
        }
    }
}

TEST_F(WindowTest, DamagedTrackDatabaseListsWhatWasReadAndSaysSoOnce) {
    fixtures::TrackDbLayout at;
    const QByteArray good = fixtures::WriteTrackDb(WindowDb(), &at);
    const fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    // Where a length is broken or the file ends (cut), and the tracks and tree nodes still listed.
    QByteArray bytes;
    for (const auto& [pos, value, cut, tracks, nodes] : {std::tuple{at.TrackSection + 8, 0u, false, 5, 2},
                                                         {at.PlaylistItems[1][1] + 8, 0u, false, 5, 4},
                                                         {at.PlaylistSection + 50, 0u, true, 5, 2},
                                                         {at.Tracks[3] + 8, 0xFFFFFFF0u, false, 3, 4}}) {
        bytes = cut ? good.left(pos) : fixtures::Patched(good, {{pos, value}});
        tree.WriteTrackDb(bytes);
        Boxes.clear();
        TZozoDodiFrm& w = Open();
        EXPECT_EQ(std::tuple(w.MusicModel->Count(), w.PlayLstList->topLevelItem(0)->childCount(), Boxes.size(),
                             BoxesStarting("The iPod's music database is damaged")),
                  std::tuple(tracks, nodes, size_t(1), 1))
            << pos;
        Window.reset();
    }
    // The last break on a handheld: listed, without the unreadable notice.
    device::SetHandheldFileReader(
        [&](const QByteArray& path, QByteArray& out, QString&) { return out = bytes, path.endsWith("/iTunesDB"); });
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    TZozoDodiFrm& w = Open();
    SetHandheldReady(true);
    w.WMIphoneNotify();
    EXPECT_EQ(std::tuple(w.MusicModel->Count(), w.ErrLb->text(),
                         BoxesStarting("The music database of the iPhone/iPod touch is damaged")),
              std::tuple(3, QString("Waiting for iPod ..."), 1));
    // A phone that fails a read part-way through its database: what was read is listed and the
    // link's reason shown, also when nothing was; a plain database (of one track here) never
    // stands in for a compressed one that failed.
    fixtures::FixtureDb one = WindowDb();
    one.Tracks.resize(1);
    for (const auto& [compressed, plainRead, tracks] :
         {std::tuple{true, qint64(0), 5}, {false, at.PlaylistSection + 50, 5}, {false, qint64(0), 0}}) {
        device::SetHandheldFileReader([&](const QByteArray& path, QByteArray& out, QString& error) {
            const bool cdb = path.endsWith("/iTunesCDB");
            if (cdb != compressed)
                return out = fixtures::WriteTrackDb(one), !cdb;
            out = cdb ? fixtures::CompressTrackDb(good).chopped(20) : good.left(plainRead);
            error = "Read error: 7";
            return false;
        });
        Boxes.clear();
        SetHandheldReady(true); // the phone connects again
        w.WMIphoneNotify();
        EXPECT_EQ(w.MusicModel->Count(), tracks) << compressed;
        EXPECT_EQ(Boxes, std::vector<QString>{"The music database of the iPhone/iPod touch could not be read (Read "
                                              "error: 7); the tracks that could be read are listed."});
    }
    SetHandheldReady(false);
}
