// Playlist tree, views, sorting, check totals, search and the check menu of the main window.
#include "tests/app/window_helpers.h"

#include "widgets/ListHeader.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTest>

class TrackViewTest : public WindowTest {
protected:
    // Chooses the tree's root (0) or its child-th node, as a click in the tree does.
    void View(int child) {
        QTreeWidgetItem* root = Window->PlayLstList->topLevelItem(0);
        Window->PlayLstList->setCurrentItem(child ? root->child(child - 1) : root);
    }
    // A click on a row's check picture.
    void ClickBox(int row) {
        QTest::mouseClick(Window->MusicList->viewport(), Qt::LeftButton, {},
                          TrackCheckPictureRect(Window->MusicList, Window->MusicModel->index(row, 1)).center());
    }
    void ClickHeader(int column, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(
            Window->MusicHeader->viewport(), button, {},
            QPoint(Window->MusicHeader->sectionViewportPosition(column) + Window->MusicHeader->sectionSize(column) / 2,
                   3));
    }
    void Search(const QString& text) {
        Window->SrEdit->clear();
        QTest::keyClicks(Window->SrEdit, text);
        QTest::keyClick(Window->SrEdit, Qt::Key_Return);
    }
    QStringList Column(int c) const {
        QStringList out;
        for (int r = 0; r < Window->MusicModel->Count(); ++r)
            out << Window->MusicModel->data(Window->MusicModel->index(r, c), Qt::DisplayRole).toString();
        return out;
    }
    bool Checked(int row) const {
        return Window->MusicModel->data(Window->MusicModel->index(row, 1), Qt::CheckStateRole).toInt() == Qt::Checked;
    }
    QString RootCaption() const { return Window->PlayLstList->topLevelItem(0)->text(0); }
};

// The list draws its own 11 x 11 check pictures, pale while the window is held; checks count
// once per track across views, and the menu's bulk operations keep to the view.
TEST_F(TrackViewTest, TreeViewsCheckPicturesAndCheckMenu) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    QStringList children;
    for (int i = 0; i < w.PlayLstList->topLevelItem(0)->childCount(); ++i)
        children << w.PlayLstList->topLevelItem(0)->child(i)->text(0);
    EXPECT_EQ(children, (QStringList{"All music", "All videos", "Mix", "Empty"}));
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Total 5 songs, 1:45, 14.65 KB"));
    auto shows = [&](int row, bool checked, bool enabled) {
        w.MusicList->clearSelection();
        const QImage shot = w.MusicList->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected(11, 11, QImage::Format_RGB32);
        expected.fill(row % 2 ? QColor(Qt::white) : QColor(241, 245, 250));
        QPainter(&expected).drawImage(0, 0, TrackCheckPicture(checked, enabled));
        return shot.copy(TrackCheckPictureRect(w.MusicList, w.MusicModel->index(row, 1))) == expected;
    };
    ClickBox(1);
    EXPECT_TRUE(shows(0, false, true) && shows(1, true, true));
    EXPECT_FALSE(shows(1, false, true));
    w.EnableControls(false);
    EXPECT_TRUE(shows(0, false, false) && shows(1, true, false));
    w.EnableControls(true);
    ClickBox(0);
    ClickBox(2);
    ClickBox(1);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 2 songs, 0:50, 4.88 KB"));
    EXPECT_EQ(RootCaption(), QStringLiteral("All music & videos (2/5)"));

    View(1); // capital ".M4V" and ".mov" are videos
    EXPECT_EQ(Titles(), (QStringList{"delta", "Alpha", "Echo alpha"}));
    View(2);
    EXPECT_EQ(Titles(), (QStringList{"Charlie", "bravo"}));
    // A repeated id lists its track twice, checked on both rows; an id without a track adds nothing.
    View(3);
    EXPECT_EQ(Titles(), (QStringList{"Charlie", "delta", "Charlie"}));
    EXPECT_TRUE(Checked(2));
    ClickBox(2);
    EXPECT_EQ(w.FCheckedCount, 1);
    EXPECT_FALSE(Checked(0));

    // "All videos": only videos get checked; music keeps its marks.
    View(2);
    w.CheckMnuClick();
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 3 songs, 0:55, 9.77 KB"));
    w.UncheckMnuClick();
    EXPECT_EQ(w.FCheckedCount, 1);
    View(0);
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedCount, 4);
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedSize, 3000u);
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
    View(3);
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedSize, 5000u);
    View(4);
    EXPECT_EQ(w.MusicModel->Count(), 0);
    bool show = true;
    w.PrepareCheckMenu(&show);
    EXPECT_FALSE(show);
}

TEST_F(TrackViewTest, SortingSearchAndTheArtPanel) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    for (int c : {1, 3, 4, 5}) {
        for (bool ascending : {true, false}) {
            ClickHeader(c);
            QStringList sorted = Column(c);
            std::ranges::sort(sorted,
                              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
            if (!ascending)
                std::ranges::reverse(sorted);
            EXPECT_EQ(Column(c), sorted) << c;
        }
    }
    // Length sorts by its numbers, not its texts; right button and the state column change nothing.
    ClickHeader(2);
    ClickHeader(1, Qt::RightButton);
    ClickHeader(0);
    EXPECT_EQ(Titles(), (QStringList{"bravo", "Alpha", "Charlie", "delta", "Echo alpha"}));

    // Title "Alpha", album "Alpha", and "Echo alpha" whose title holds it once.
    Search(QStringLiteral("ALPHA"));
    EXPECT_EQ(Titles(), (QStringList{"Alpha", "Charlie", "Echo alpha"}));
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Found 3 songs, 1:10, 6.84 KB"));
    // A trailing space only finds fields with the text followed by a space.
    Search(QStringLiteral("echo "));
    EXPECT_EQ(Titles(), (QStringList{"Echo alpha"}));
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedCount, 1);
    QTest::mouseClick(w.ClearImg, Qt::LeftButton);
    EXPECT_TRUE(w.ClearImg->isHidden());
    EXPECT_EQ(w.MusicModel->Count(), 5);
    Search(QStringLiteral("   "));
    EXPECT_EQ(w.MusicModel->Count(), 5);
    // The handler sees the text before the key: the second character shows the clear button.
    w.SrEdit->clear();
    QTest::keyClick(w.SrEdit, 'b');
    EXPECT_TRUE(w.ClearImg->isHidden());
    QTest::keyClicks(w.SrEdit, QStringLiteral("ob"));
    EXPECT_FALSE(w.ClearImg->isHidden());
    QTest::keyClick(w.SrEdit, Qt::Key_Return);
    EXPECT_EQ(Titles(), (QStringList{"Charlie"}));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(w.SrEdit, Qt::Key_Backspace);
    EXPECT_EQ(w.MusicModel->Count(), 5);
    EXPECT_TRUE(w.ClearImg->isHidden());
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 1 songs, 0:40, 3.91 KB"));

    QTest::mouseClick(w.ArtBtnPnl, Qt::LeftButton);
    EXPECT_TRUE(w.ArtPnl->isHidden());
    QTest::mouseClick(w.ArtBtnPnl, Qt::LeftButton);
    EXPECT_FALSE(w.ArtPnl->isHidden());
    w.ArtworkLoaded = true; // a track with no art record hides the picture
    w.TrackDb->Tracks.GetItem(0).HasArtwork = 1;
    w.ArtImg->show();
    w.MusicListChange(0);
    EXPECT_TRUE(w.ArtImg->isHidden());
}

TEST_F(TrackViewTest, BigVideoSortsAfterSmallSongBySize) {
    fixtures::FixtureDb db = WindowDb();
    db.Tracks[2].Size = 0x90000000u; // above 2 GiB
    db.Tracks[0].Size = 100u << 20;
    MakeIpod('E', db);
    Open().show();
    ClickHeader(6);
    EXPECT_EQ(Titles().mid(3), (QStringList{"delta", "Charlie"}));
}

TEST_F(TrackViewTest, DeviceWithoutPlaylistsShowsItsErrorAndNoTree) {
    fixtures::FixtureDb db = WindowDb();
    db.Playlists.clear();
    MakeIpod('E', db);
    TZozoDodiFrm& w = Open();
    EXPECT_EQ(w.IpodLb->text(), QStringLiteral("???"));
    ASSERT_FALSE(Boxes.empty());
    EXPECT_EQ(Boxes.front().Text, QStringLiteral("There is no music or video in your iPod."));
    EXPECT_EQ(w.PlayLstList->topLevelItemCount(), 0);
}
