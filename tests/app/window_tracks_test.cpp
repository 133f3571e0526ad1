// Playlist tree, views, sorting, check totals, search and the check menu of the main window.
#include "tests/app/window_helpers.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QTest>

namespace {

QStringList Sorted(QStringList l, bool ascending) {
    std::sort(l.begin(), l.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    if (!ascending) std::reverse(l.begin(), l.end());
    return l;
}

} // namespace

TEST_F(WindowTest, TreeNodesAndCaptions) {
    TZozoDodiFrm& w = OpenLoaded();
    ASSERT_EQ(w.PlayLstList->topLevelItemCount(), 1);
    QTreeWidgetItem* root = w.PlayLstList->topLevelItem(0);
    QStringList children;
    for (int i = 0; i < root->childCount(); ++i)
        children << root->child(i)->text(0);
    EXPECT_EQ(children, (QStringList{"All music", "All videos", "Mix", "Empty"}));
    EXPECT_TRUE(root->isExpanded());
    // The first node is selected at load, which fills the list and renames the root.
    EXPECT_EQ(w.PlayLstList->currentItem(), root);
    EXPECT_EQ(root->text(0), QStringLiteral("All music & videos (0/5)"));
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 5 songs, 1:45, 14.65 KB"));
}

TEST_F(WindowTest, DeviceWithoutPlaylistsShowsItsErrorAndNoTree) {
    fixtures::FixtureDb db = WindowDb();
    db.Playlists.clear();
    MakeIpod('E', db);
    TZozoDodiFrm& w = Open();
    EXPECT_EQ(w.IpodLb->text(), QStringLiteral("???"));
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.front().Text, QStringLiteral("There is no music or video in your iPod."));
    EXPECT_EQ(w.PlayLstList->topLevelItemCount(), 0);
    EXPECT_EQ(w.MusicModel->Count(), 0);
}

TEST_F(WindowTest, RowsOfEachView) {
    TZozoDodiFrm& w = OpenLoaded();
    EXPECT_EQ(Titles(), (QStringList{"delta", "Alpha", "Charlie", "bravo", "Echo alpha"}));
    w.PlayLstList->setCurrentItem(Node(1));
    // Capital ".M4V" and ".mov" are videos.
    EXPECT_EQ(Titles(), (QStringList{"delta", "Alpha", "Echo alpha"}));
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 3 songs, 1:20, 7.81 KB"));
    w.PlayLstList->setCurrentItem(Node(2));
    EXPECT_EQ(Titles(), (QStringList{"Charlie", "bravo"}));
    // A repeated id lists its track twice; an id without a track adds nothing.
    w.PlayLstList->setCurrentItem(Node(3));
    EXPECT_EQ(Titles(), (QStringList{"Charlie", "delta", "Charlie"}));
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 3 songs, 1:10, 6.84 KB"));
    w.PlayLstList->setCurrentItem(Node(4));
    EXPECT_EQ(w.MusicModel->Count(), 0);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 0 songs, 0:00, 0.00 KB"));
}

TEST_F(WindowTest, SortingEveryColumnBothWays) {
    TZozoDodiFrm& w = OpenLoaded();
    auto column = [&](int c) {
        QStringList out;
        for (int r = 0; r < w.MusicModel->Count(); ++r)
            out << w.MusicModel->data(w.MusicModel->index(r, c), Qt::DisplayRole).toString();
        return out;
    };
    for (int c : {1, 3, 4, 5}) {
        w.MusicListHeaderClick(c, Qt::LeftButton);
        EXPECT_EQ(column(c), Sorted(column(c), true)) << c;
        w.MusicListHeaderClick(c, Qt::LeftButton);
        EXPECT_EQ(column(c), Sorted(column(c), false)) << c;
    }
    // Length and size sort by their numbers, not their texts.
    w.MusicListHeaderClick(2, Qt::LeftButton);
    EXPECT_EQ(Titles(), (QStringList{"bravo", "Alpha", "Charlie", "delta", "Echo alpha"}));
    w.MusicListHeaderClick(6, Qt::LeftButton);
    EXPECT_EQ(Titles(), (QStringList{"Alpha", "Charlie", "delta", "Echo alpha", "bravo"}));
    // Name twice is descending; Artist then starts ascending.
    w.MusicListHeaderClick(1, Qt::LeftButton);
    w.MusicListHeaderClick(1, Qt::LeftButton);
    EXPECT_EQ(Titles().first(), QStringLiteral("Echo alpha"));
    w.MusicListHeaderClick(3, Qt::LeftButton);
    EXPECT_EQ(column(3), (QStringList{"amy", "Bob", "Cat", "Dan", "Zed"}));
    // Right button and the state column change nothing.
    w.MusicListHeaderClick(1, Qt::RightButton);
    w.MusicListHeaderClick(0, Qt::LeftButton);
    EXPECT_EQ(column(3), (QStringList{"amy", "Bob", "Cat", "Dan", "Zed"}));
    EXPECT_EQ(w.MusicHeader->sortIndicatorSection(), 3);
}

TEST_F(WindowTest, BigVideoSortsAfterSmallSongBySize) {
    fixtures::FixtureDb db = WindowDb();
    db.Tracks[2].Size = 0x90000000u; // above 2 GiB
    db.Tracks[0].Size = 100u << 20;
    MakeIpod('E', db);
    TZozoDodiFrm& w = Open();
    w.MusicListHeaderClick(6, Qt::LeftButton);
    EXPECT_EQ(Titles().last(), QStringLiteral("Charlie"));
    EXPECT_EQ(Titles().at(3), QStringLiteral("delta"));
}

TEST_F(WindowTest, CheckTotalsAndStatusTexts) {
    TZozoDodiFrm& w = OpenLoaded();
    ClickBox(0);
    ClickBox(1);
    ClickBox(2);
    ClickBox(1);
    EXPECT_EQ(w.FCheckedCount, 2);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 2 songs, 0:50, 4.88 KB"));
    EXPECT_EQ(RootCaption(), QStringLiteral("All music & videos (2/5)"));
    // Marks survive a change of view; the playlist shows "Charlie" checked on both rows.
    w.PlayLstList->setCurrentItem(Node(3));
    EXPECT_EQ(w.MusicModel->data(w.MusicModel->index(2, 1), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_EQ(RootCaption(), QStringLiteral("All music & videos (2/5)"));
    // Unchecking the repeated track once counts it once.
    ClickBox(2);
    EXPECT_EQ(w.FCheckedCount, 1);
    EXPECT_EQ(w.MusicModel->data(w.MusicModel->index(0, 1), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    ClickBox(1);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 3 songs, 1:10, 6.84 KB"));
    EXPECT_EQ(RootCaption(), QStringLiteral("All music & videos (0/5)"));
}

TEST_F(WindowTest, SearchAndRestore) {
    TZozoDodiFrm& w = OpenLoaded();
    // Title "Alpha", album "Alpha", and "Echo alpha" whose title holds it once.
    w.SrEdit->setText(QStringLiteral("ALPHA"));
    EXPECT_TRUE(w.SrEditKeyPress(13));
    EXPECT_EQ(Titles(), (QStringList{"Alpha", "Charlie", "Echo alpha"}));
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Found 3 songs, 1:10, 6.84 KB"));
    EXPECT_FALSE(w.ClearImg->isHidden());
    // A trailing space only finds fields with the text followed by a space.
    w.SrEdit->setText(QStringLiteral("echo "));
    w.SrEditKeyPress(13);
    EXPECT_EQ(Titles(), (QStringList{"Echo alpha"}));
    // Check all after a search checks exactly the found tracks.
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedCount, 1);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 1 songs, 0:40, 3.91 KB"));
    w.ClearImgClick();
    EXPECT_TRUE(w.SrEdit->text().isEmpty());
    EXPECT_TRUE(w.ClearImg->isHidden());
    EXPECT_EQ(w.MusicModel->Count(), 5);
    // Only blanks: no search, nothing swallowed.
    w.SrEdit->setText(QStringLiteral("   "));
    EXPECT_FALSE(w.SrEditKeyPress(13));
    EXPECT_EQ(w.MusicModel->Count(), 5);
    // The handler sees the text before the key: the second character shows ClearImg.
    w.SrEdit->clear();
    w.SrEditKeyPress('b');
    EXPECT_TRUE(w.ClearImg->isHidden());
    w.SrEdit->setText(QStringLiteral("b"));
    w.SrEditKeyPress('o');
    EXPECT_FALSE(w.ClearImg->isHidden());
    w.SrEdit->setText(QStringLiteral("bob"));
    w.SrEditKeyPress(13);
    EXPECT_EQ(Titles(), (QStringList{"Charlie"}));
    w.SrEdit->setText(QStringLiteral("b"));
    EXPECT_FALSE(w.SrEditKeyPress(8));
    EXPECT_EQ(w.MusicModel->Count(), 5);
    EXPECT_TRUE(w.ClearImg->isHidden());
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 1 songs, 0:40, 3.91 KB"));
    // A search without matches leaves the list empty.
    w.SrEdit->setText(QStringLiteral("zzz"));
    w.SrEditKeyPress(13);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Found 0 songs, 0:00, 0.00 KB"));
}

TEST_F(WindowTest, CheckMenuAndBulkOperations) {
    TZozoDodiFrm& w = OpenLoaded();
    bool show = false;
    w.PrepareCheckMenu(&show);
    EXPECT_TRUE(show && w.CheckSMnu->isVisible());
    // "All videos": only videos get checked; music keeps its marks.
    ClickBox(0);
    w.PlayLstList->setCurrentItem(Node(2));
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedCount, 3);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 3 songs, 0:55, 9.77 KB"));
    w.UncheckMnuClick();
    EXPECT_EQ(w.FCheckedCount, 1);
    // Invert twice returns every mark and total.
    w.PlayLstList->setCurrentItem(Node(0));
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedCount, 4);
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedCount, 1);
    EXPECT_EQ(w.FCheckedSize, 3000u);
    // Selected rows.
    auto selectRows = [&](std::initializer_list<int> rows) {
        w.MusicList->selectionModel()->clearSelection();
        for (int r : rows)
            w.MusicList->selectionModel()->select(w.MusicModel->index(r, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    selectRows({1, 3});
    w.CheckSMnuClick();
    EXPECT_EQ(w.FCheckedCount, 3);
    selectRows({0, 1, 3});
    w.UncheckSMnuClick();
    EXPECT_EQ(w.FCheckedCount, 0);
    // A playlist with a track twice: Invert flips that track once.
    w.PlayLstList->setCurrentItem(Node(3));
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedCount, 2);
    EXPECT_EQ(w.FCheckedSize, 5000u);
    // An empty view gives no menu.
    w.PlayLstList->setCurrentItem(Node(4));
    w.PrepareCheckMenu(&show);
    EXPECT_FALSE(show);
}

TEST_F(WindowTest, ArtPanelToggleAndTrackWithoutArt) {
    TZozoDodiFrm& w = OpenLoaded();
    w.ArtBtnPnlClick();
    EXPECT_TRUE(w.ArtPnl->isHidden());
    w.ArtBtnPnlClick();
    EXPECT_FALSE(w.ArtPnl->isHidden());
    Window->ArtworkLoaded = true; // a track with no art record hides the picture
    Window->TrackDb->Tracks.GetItem(0).HasArtwork = 1;
    w.ArtImg->show();
    w.MusicListChange(0);
    EXPECT_TRUE(w.ArtImg->isHidden());
}

// The list draws its own 11 x 11 check pictures, pale while the window is held, and a click
// on one toggles its track.
TEST_F(WindowTest, CheckBoxesAreTheListsOwnPicturesAndToggleOnAClick) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    ClickBox(1);
    auto shows = [&](int row, bool checked, bool enabled) {
        const QImage shot = w.MusicList->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected(11, 11, QImage::Format_RGB32);
        expected.fill(row % 2 ? QColor(Qt::white) : QColor(241, 245, 250));
        QPainter(&expected).drawImage(0, 0, TrackCheckPicture(checked, enabled));
        return shot.copy(TrackCheckPictureRect(w.MusicList, w.MusicModel->index(row, 1))) == expected;
    };
    EXPECT_TRUE(shows(0, false, true));
    EXPECT_TRUE(shows(1, true, true));
    EXPECT_FALSE(shows(1, false, true));
    w.EnableControls(false);
    EXPECT_TRUE(shows(0, false, false));
    EXPECT_TRUE(shows(1, true, false));
    w.EnableControls(true);
    const QPoint centre = TrackCheckPictureRect(w.MusicList, w.MusicModel->index(2, 1)).center();
    QTest::mouseClick(w.MusicList->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(w.FCheckedCount, 2);
    w.MusicList->clearSelection();
    EXPECT_TRUE(shows(2, true, true));
}
