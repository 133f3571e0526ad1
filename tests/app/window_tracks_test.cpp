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
    if (!ascending)
        std::reverse(l.begin(), l.end());
    return l;
}

} // namespace

TEST_F(WindowTest, TreeNodesAndCaptions) {
    TZozoDodiFrm& w = OpenLoaded();
    ASSERT_EQ(w.PlayLstList->topLevelItemCount(), 1);
    QTreeWidgetItem* root = w.PlayLstList->topLevelItem(0);
    ASSERT_EQ(root->childCount(), 4);
    EXPECT_EQ(root->child(0)->text(0), QStringLiteral("All music"));
    EXPECT_EQ(root->child(1)->text(0), QStringLiteral("All videos"));
    EXPECT_EQ(root->child(2)->text(0), QStringLiteral("Mix"));
    EXPECT_EQ(root->child(3)->text(0), QStringLiteral("Empty"));
    EXPECT_EQ(w.ImageIndexOf(root), 3);
    EXPECT_EQ(w.ImageIndexOf(root->child(0)), 1);
    EXPECT_EQ(w.ImageIndexOf(root->child(1)), 2);
    EXPECT_EQ(w.ImageIndexOf(root->child(2)), 0);
    EXPECT_EQ(w.AbsoluteIndex(root->child(2)), 3);
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
    // The cells of a row as painted.
    w.PlayLstList->setCurrentItem(Node(0));
    const TrackListModel& m = *w.MusicModel;
    EXPECT_EQ(m.data(m.index(0, 1), Qt::DisplayRole).toString(), QStringLiteral("delta"));
    EXPECT_EQ(m.data(m.index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("0:30"));
    EXPECT_EQ(m.data(m.index(0, 3), Qt::DisplayRole).toString(), QStringLiteral("Zed"));
    EXPECT_EQ(m.data(m.index(0, 6), Qt::DisplayRole).toString(), QStringLiteral("2.93 KB"));
    EXPECT_EQ(m.data(m.index(0, 0), Qt::DisplayRole).toString(), QString());
    EXPECT_EQ(m.data(m.index(0, 6), Qt::TextAlignmentRole).toInt() & Qt::AlignRight, int(Qt::AlignRight));
    EXPECT_EQ(m.data(m.index(0, 1), Qt::BackgroundRole).value<QColor>(), QColor(241, 245, 250));
    EXPECT_EQ(m.data(m.index(1, 1), Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
    EXPECT_EQ(m.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Name"));
    EXPECT_EQ(w.MusicList->header()->sectionSize(0), 18);
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
        EXPECT_EQ(w.MusicHeader->sortIndicatorSection(), c);
        w.MusicListHeaderClick(c, Qt::LeftButton);
        EXPECT_EQ(column(c), Sorted(column(c), false)) << c;
        EXPECT_EQ(w.MusicHeader->sortIndicatorOrder(), Qt::DescendingOrder);
    }
    w.MusicListHeaderClick(2, Qt::LeftButton);
    EXPECT_EQ(Titles(), (QStringList{"bravo", "Alpha", "Charlie", "delta", "Echo alpha"}));
    w.MusicListHeaderClick(2, Qt::LeftButton);
    EXPECT_EQ(Titles(), (QStringList{"Echo alpha", "delta", "Charlie", "Alpha", "bravo"}));
    w.MusicListHeaderClick(6, Qt::LeftButton);
    EXPECT_EQ(Titles(), (QStringList{"Alpha", "Charlie", "delta", "Echo alpha", "bravo"}));
    w.MusicListHeaderClick(6, Qt::LeftButton);
    EXPECT_EQ(Titles(), (QStringList{"bravo", "Echo alpha", "delta", "Charlie", "Alpha"}));
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
    EXPECT_EQ(w.FCheckedCount, 0);
    EXPECT_EQ(w.FCheckedSize, 0u);
    EXPECT_EQ(w.FCheckedLength, 0u);
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
    EXPECT_EQ(RootCaption(), QStringLiteral("All music & videos (0/5)"));
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
    // A search without matches leaves the list empty; the key handler then does nothing.
    w.SrEdit->setText(QStringLiteral("zzz"));
    w.SrEditKeyPress(13);
    EXPECT_EQ(w.MusicModel->Count(), 0);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Found 0 songs, 0:00, 0.00 KB"));
    w.SrEdit->setText(QStringLiteral("z"));
    w.SrEditKeyPress(8);
    EXPECT_EQ(w.MusicModel->Count(), 0);
}

TEST_F(WindowTest, CheckMenuAndBulkOperations) {
    TZozoDodiFrm& w = OpenLoaded();
    bool show = false;
    w.PrepareCheckMenu(&show);
    EXPECT_TRUE(show);
    EXPECT_TRUE(w.CheckSMnu->isVisible());
    EXPECT_TRUE(w.N2->isVisible());
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
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 5 songs, 1:45, 14.65 KB"));
    EXPECT_EQ(RootCaption(), QStringLiteral("All music & videos (0/5)"));
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
    EXPECT_EQ(w.ArtBtnPnl->text(), QStringLiteral("..."));
    EXPECT_FALSE(w.ArtPnl->isHidden());
    w.ArtBtnPnlClick();
    EXPECT_EQ(w.ArtBtnPnl->text(), QStringLiteral("+"));
    EXPECT_TRUE(w.ArtPnl->isHidden());
    w.ArtBtnPnlClick();
    EXPECT_FALSE(w.ArtPnl->isHidden());
    Window->ArtworkLoaded = true; // a track with no art record hides the picture
    Window->TrackDb->Tracks.GetItem(0).HasArtwork = 1;
    w.ArtImg->show();
    w.MusicListChange(0);
    EXPECT_TRUE(w.ArtImg->isHidden());
    Window->ArtworkLoaded = false;
}

namespace {

// The picture as it must appear on a cell of the given background.
QImage OnBackground(const QImage& picture, QColor background) {
    QImage out(picture.size(), QImage::Format_RGB32);
    out.fill(background);
    QPainter p(&out);
    p.drawImage(0, 0, picture);
    return out;
}

bool SamePixels(const QImage& shot, const QRect& where, const QImage& expected) {
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (shot.pixel(where.x() + x, where.y() + y) != expected.pixel(x, y))
                return false;
    return true;
}

} // namespace

TEST_F(WindowTest, CheckBoxesAreTheListsOwnPictures) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    ClickBox(1);
    const QColor even(241, 245, 250), odd(Qt::white);
    ASSERT_NE(TrackCheckPicture(false, true), TrackCheckPicture(true, true));
    auto shot = [&] { return w.MusicList->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    auto place = [&](int row) { return TrackCheckPictureRect(w.MusicList, w.MusicModel->index(row, 1)); };
    ASSERT_EQ(place(0).size(), QSize(11, 11));
    QImage s = shot();
    EXPECT_TRUE(SamePixels(s, place(0), OnBackground(TrackCheckPicture(false, true), even)));
    EXPECT_TRUE(SamePixels(s, place(1), OnBackground(TrackCheckPicture(true, true), odd)));
    EXPECT_FALSE(SamePixels(s, place(1), OnBackground(TrackCheckPicture(false, true), odd)));
    // A disabled list (a notice or a transfer holds the window) shows the pale pair.
    w.EnableControls(false);
    s = shot();
    EXPECT_TRUE(SamePixels(s, place(0), OnBackground(TrackCheckPicture(false, false), even)));
    EXPECT_TRUE(SamePixels(s, place(1), OnBackground(TrackCheckPicture(true, false), odd)));
    w.EnableControls(true);
    // A click on the picture toggles the track.
    const QPoint centre = place(2).center();
    QTest::mouseClick(w.MusicList->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(w.FCheckedCount, 2);
    w.MusicList->clearSelection();
    EXPECT_TRUE(SamePixels(shot(), place(2), OnBackground(TrackCheckPicture(true, true), even)));
    SaveShot(w, QStringLiteral("window-loaded.png"));
}
