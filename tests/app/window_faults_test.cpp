// The window as a user meets it: header clicks, what fits on screen, the folder fields and
// pickers, the eject question and a damaged track database.
#include "tests/app/window_helpers.h"

#include "device/PhotoDb.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

namespace {

void ClickHeader(QHeaderView* h, int column) {
    const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
}

void ClickPicButton(TPicButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
}

} // namespace

TEST_F(WindowTest, HeaderClicksSortAndShowTheArrow) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    QHeaderView* h = w.MusicList->header();
    ClickHeader(h, TrackListModel::ColName);
    EXPECT_EQ(Titles(), QStringList({"Alpha", "bravo", "Charlie", "delta", "Echo alpha"}));
    ClickHeader(h, TrackListModel::ColName);
    EXPECT_EQ(Titles(), QStringList({"Echo alpha", "delta", "Charlie", "bravo", "Alpha"}));
    EXPECT_TRUE(h->isSortIndicatorShown());
    EXPECT_EQ(h->sortIndicatorSection(), int(TrackListModel::ColName));
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(WindowTest, DefaultTreeWidthAndOutputPageFitTheirTexts) {
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1019, 1036, 4, false, 3), false);
    TZozoDodiFrm& w = OpenShown();
    ASSERT_EQ(w.PlayLstList->topLevelItemCount(), 2);
    w.PlayLstList->topLevelItem(0)->setText(0, "All music & videos (8888/8888)");
    w.PlayLstList->topLevelItem(1)->setText(0, "All photos (8888/8888)");
    const auto* view = static_cast<const QAbstractItemView*>(w.PlayLstList);
    EXPECT_LE(view->sizeHintForColumn(0), w.PlayLstList->viewport()->width());
    SaveShot(w, "window-default-tree.png");
    // The window grew with the pane: a full row of photos still fits beside it.
    QTreeWidget* t = w.PlayLstList;
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->topLevelItem(1)).center());
    EXPECT_LE(w.PhotoPage->width(), w.PhotoBox->viewport()->width());

    // Songs and photos ticked: the summary's four lines and every field show whole.
    w.CheckAllTracks();
    for (int i = 0; i < 2; ++i)
        w.PhotoDb->Photos.GetItem(i)->Selected = 1;
    w.FCheckedPhotos = 2;
    ClickPicButton(w.ExportBtn);
    ASSERT_EQ(w.NotePgc->currentWidget(), w.SetTab);
    SaveShot(w, "window-output-page.png");
    const QRect panel = w.ErrPnl->rect();
    for (QWidget* c : w.ErrPnl->findChildren<QWidget*>()) {
        if (!c->isVisibleTo(w.ErrPnl) || c->parentWidget() == w.NotePgc) continue;
        const QRect r(c->mapTo(w.ErrPnl, QPoint(0, 0)), c->size());
        EXPECT_TRUE(panel.contains(r)) << c->metaObject()->className();
        EXPECT_GE(c->height(), c->minimumSizeHint().height()) << c->metaObject()->className();
    }
    EXPECT_GE(w.Trlb->height(), w.Trlb->sizeHint().height());

    const int wide = w.width();
    w.close();
    EXPECT_EQ(Open().width(), wide); // the saved pane width gives the same window
}

TEST_F(WindowTest, FolderPickerOpensAtTheFieldsNearestFolder) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    w.CheckAllTracks();
    ClickPicButton(w.ExportBtn);
    const QString have = Temp.filePath("have");
    ASSERT_TRUE(QDir().mkpath(have));
    for (const auto& [field, start] :
         {std::pair{have, have}, {have + "/not/yet", have}, {QString(" \x01"), QDir::homePath()}}) {
        w.OutEdit->setText(field);
        QString opened;
        QTimer::singleShot(0, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                opened = d->directory().absolutePath();
                d->reject();
            }
        });
        QTest::mouseClick(w.BrowseBtn, Qt::LeftButton);
        EXPECT_EQ(opened, start) << field.toStdString();
        EXPECT_EQ(w.OutEdit->text(), field);
    }
}

TEST_F(WindowTest, StartTrimsTheFoldersAsStartUpDoes) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    w.CheckAllTracks();
    ClickPicButton(w.ExportBtn);
    const QString out = Temp.filePath("out") + QChar(0xA0); // a no-break space is part of a name
    w.OutEdit->setText("\x01 " + out + " \t");
    // With the device gone, Start stops after it has made the folders.
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_EQ(w.OutEdit->text(), out + "/");
    EXPECT_TRUE(QFileInfo(out).isDir());
    EXPECT_EQ(BoxesStarting("Lost connection to the iPod device."), 1);
}

TEST_F(WindowTest, EjectQuestionNamesTheFileManager) {
    OpenLoaded().close();
    ASSERT_EQ(BoxesStarting("Do you want to eject your iPod now?"), 1);
    EXPECT_TRUE(Boxes.back().Text.endsWith("You can also eject it from iTunes or your file manager later."));
}

TEST_F(WindowTest, DamagedTrackDatabaseListsWhatWasReadAndSaysSoOnce) {
    fixtures::TrackDbLayout at;
    const QByteArray good = fixtures::WriteTrackDb(WindowDb(), &at);
    const fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    const struct {
        const char* Name;
        qint64 Pos;
        uint32_t Value;
        int Tracks;
        int Playlists;
        bool Damaged;
    } cases[] = {
        {"sound", -1, 0, 5, 3, false},
        {"playlist item of length 0", at.PlaylistItems[1][1] + 8, 0, 5, 3, true},
        {"track section of length 0", at.TrackSection + 8, 0, 5, 0, true},
        {"track running past the end", at.Tracks[3] + 8, 0xFFFFFFF0, 3, 3, true},
    };
    for (const auto& c : cases) {
        QByteArray bytes = good;
        if (c.Pos >= 0) fixtures::PutU32(bytes, c.Pos, c.Value);
        tree.WriteTrackDb(bytes);
        Boxes.clear();
        TZozoDodiFrm& w = Open();
        EXPECT_EQ(w.MusicModel->Count(), c.Tracks) << c.Name;
        // The root, "All music", "All videos" and one node per playlist after the master.
        EXPECT_EQ(w.PlayLstList->topLevelItem(0)->childCount(), 2 + std::max(0, c.Playlists - 1)) << c.Name;
        EXPECT_EQ(Boxes.size(), c.Damaged ? 1u : 0u) << c.Name;
        EXPECT_EQ(BoxesStarting("The iPod's music database is damaged"), c.Damaged ? 1 : 0) << c.Name;
        Window.reset();
    }
}

TEST_F(WindowTest, DamagedHandheldDatabaseIsListedWithoutTheUnreadableNotice) {
    fixtures::TrackDbLayout at;
    QByteArray bytes = fixtures::WriteTrackDb(WindowDb(), &at);
    fixtures::PutU32(bytes, at.Tracks[3] + 8, 0xFFFFFFF0);
    device::SetHandheldFileReader([&](const QByteArray& path, QByteArray& out) {
        out = bytes;
        return path.endsWith("/iTunesDB");
    });
    TZozoDodiFrm& w = Open();
    {
        QMutexLocker lock(&handheld::IphoneLock());
        handheld::IphoneMgr.Ready = true;
    }
    w.WMIphoneNotify();
    EXPECT_EQ(w.MusicModel->Count(), 3);
    EXPECT_EQ(w.ErrLb->text(), "Waiting for iPod ...");
    EXPECT_EQ(BoxesStarting("The music database of the iPhone/iPod touch is damaged"), 1);
    QMutexLocker lock(&handheld::IphoneLock());
    handheld::IphoneMgr.Ready = false;
    device::SetHandheldFileReader(nullptr);
}
