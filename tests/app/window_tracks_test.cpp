// Playlist tree, views, sorting, check totals, search and the check menu of the main window.
#include "tests/app/window_helpers.h"

#include "device/ArtworkDb.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "widgets/ListHeader.h"

#include <QLineEdit>
#include <QPainter>

class TrackViewTest : public WindowTest {
protected:
    // A click on the tree's root (0) or on its child-th node.
    void View(int child) {
        QTreeWidgetItem* root = Window->PlayLstList->topLevelItem(0);
        QTest::mouseClick(Window->PlayLstList->viewport(), Qt::LeftButton, {},
                          Window->PlayLstList->visualItemRect(child ? root->child(child - 1) : root).center());
    }
    void ClickRow(int row, Qt::KeyboardModifiers keys = {}) {
        QTest::mouseClick(Window->MusicList->viewport(), Qt::LeftButton, keys,
                          Window->MusicList->visualRect(Window->MusicModel->index(row, 2)).center());
    }
    void ClickHeader(int column, Qt::MouseButton button = Qt::LeftButton) {
        const int x =
            Window->MusicHeader->sectionViewportPosition(column) + Window->MusicHeader->sectionSize(column) / 2;
        QTest::mouseClick(Window->MusicHeader->viewport(), button, {}, QPoint(x, 3));
    }
    void Search(const QString& text) {
        Window->SrEdit->clear();
        QTest::keyClicks(Window->SrEdit, text);
        QTest::keyClick(Window->SrEdit, Qt::Key_Return);
    }
};

// The list draws its own 11 x 11 check pictures, pale while the window is held; checks count
// once per track across views, and the menu's bulk operations keep to the view.
TEST_F(TrackViewTest, ViewsCheckPicturesAndCheckMenu) {
    MakeIpod('E', WindowDb());
    TZozoDodiFrm& w = OpenShown();
    auto shows = [&](int row, bool checked, bool enabled) {
        w.MusicList->clearSelection();
        const QImage shot = w.MusicList->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected(11, 11, QImage::Format_RGB32);
        expected.fill(row % 2 ? QColor(Qt::white) : QColor(241, 245, 250));
        QPainter(&expected).drawImage(0, 0, TrackCheckPicture(checked, enabled));
        return shot.copy(TrackCheckPictureRect(w.MusicList, w.MusicModel->index(row, 1))) == expected;
    };
    ClickBox(w, 0);
    EXPECT_TRUE(shows(0, true, true) && shows(1, false, true));
    w.EnableControls(false);
    EXPECT_TRUE(shows(0, true, false) && shows(1, false, false));
    w.EnableControls(true);
    ClickBox(w, 2);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Select 2 songs, 0:50, 4.88 KB"));

    View(2); // capital ".M4V" and ".mov" are videos
    EXPECT_EQ(Titles(), (QStringList{"Charlie", "bravo"}));
    // A repeated id lists its track twice, checked on both rows; an id without a track adds nothing.
    View(3);
    EXPECT_EQ(Titles(), (QStringList{"Charlie", "delta", "Charlie"}));
    ClickBox(w, 2); // shown checked, so this unchecks the track
    EXPECT_EQ(w.FCheckedCount, 1);

    // "All videos": only videos get checked; music keeps its marks.
    View(2);
    w.CheckMnuClick();
    EXPECT_EQ(w.FCheckedCount, 3);
    w.UncheckMnuClick();
    View(0);
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedSize, 12000u);
    ClickRow(1);
    ClickRow(3, Qt::ControlModifier);
    w.UncheckSMnuClick();
    ClickRow(0);
    w.CheckSMnuClick();
    EXPECT_EQ(w.FCheckedSize, 9000u);
    // A playlist with a track twice: Invert flips that track once.
    View(3);
    w.InvertMnuClick();
    EXPECT_EQ(w.FCheckedSize, 4000u);
}

// The header's arrow and the art panel belong to the list as it is: every refill (a search, its
// restore, another view) puts the rows in fill order without an arrow and leaves no row
// chosen, so the panel shows its placeholder, not the cover of a row that is gone.
TEST_F(TrackViewTest, SortingSearchAndTheArtPanel) {
    fixtures::FixtureDb db = WindowDb();
    db.Tracks[2].Size = 0x90000000u; // above 2 GiB
    db.Tracks[0].Size = 100u << 20;
    db.Tracks[3].Size = 1u << 30; // "1024.00 MB", the widest size text
    // "Echo alpha" and "Alpha" have the art items 0 and 1.
    for (const auto& [track, art] : {std::pair{4, 0}, {1, 1}})
        db.Tracks[size_t(track)].HasArtwork = true, db.Tracks[size_t(track)].DbId = 0x1000000000ull + art;
    fixtures::WriteArtSet(MakeIpod('E', db), fixtures::MakeArtSet(1028, 1017, 2, false), false);
    TZozoDodiFrm& w = OpenShown();
    const QImage unsorted = w.MusicHeader->grab().toImage();
    const auto arrow = [&] { return w.MusicHeader->grab().toImage() != unsorted; };
    // The art item the panel shows; -1 for the placeholder.
    const auto art = [&] {
        QImage picture;
        for (int i = 0; !w.ArtImg->isHidden() && i < 2; ++i)
            if (w.ArtworkDb->LoadSmallArt(i, picture) &&
                QPixmap::fromImage(picture).toImage() == w.ArtImg->pixmap().toImage())
                return i;
        return w.ArtPlaceholder->isHidden() ? -2 : -1;
    };
    // The size column shows its widest text whole.
    EXPECT_GE(w.MusicHeader->sectionSize(TrackListModel::ColSize),
              static_cast<QAbstractItemView*>(w.MusicList)->sizeHintForColumn(TrackListModel::ColSize));
    // What the user does, then the rows, the header's arrow and the art item the panel shows.
    const QStringList filled{"delta", "Alpha", "Charlie", "bravo", "Echo alpha"},
        byLength{"bravo", "Alpha", "Charlie", "delta", "Echo alpha"}, found{"Alpha", "Charlie", "Echo alpha"};
    const std::tuple<std::function<void()>, QStringList, bool, int> steps[] = {
        // Artists without regard to case: amy, Bob, Cat, Dan, Zed.
        {[&] { ClickHeader(3); }, {"Alpha", "Charlie", "bravo", "Echo alpha", "delta"}, true, -1},
        {[&] { ClickHeader(6); }, {"Alpha", "Echo alpha", "delta", "bravo", "Charlie"}, true, -1},
        // Length sorts by its numbers, not its texts; right button and the state column change nothing.
        {[&] { ClickHeader(2), ClickHeader(1, Qt::RightButton), ClickHeader(0); }, byLength, true, -1},
        {[&] { ClickRow(1); }, byLength, true, 1},
        // Title "Alpha", album "Alpha", and "Echo alpha" whose title holds it once; a first
        // click sorts ascending again.
        {[&] { Search(QStringLiteral("ALPHA")); }, found, false, -1},
        {[&] { ClickHeader(2); }, found, true, -1},
        {[&] { ClickRow(0); }, found, true, 1},
        // A trailing space only finds fields with the text followed by a space.
        {[&] { Search(QStringLiteral("echo ")); }, {"Echo alpha"}, false, -1},
        {[&] { ClickRow(0); }, {"Echo alpha"}, false, 0},
        {[&] { w.CheckMnuClick(), ClickHeader(1), QTest::mouseClick(w.ClearImg, Qt::LeftButton); }, filled, false, -1},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& [act, rows, sorted, shown] = steps[i];
        act();
        EXPECT_EQ(std::tuple(Titles(), arrow(), art()), std::tuple(rows, sorted, shown)) << i;
    }
    // The handler sees the text before the key: the second character shows the clear button.
    ClickHeader(1);
    QTest::keyClicks(w.SrEdit, QStringLiteral("bob"));
    EXPECT_FALSE(w.ClearImg->isHidden());
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(w.SrEdit, Qt::Key_Backspace);
    EXPECT_EQ(std::tuple(w.ClearImg->isHidden(), arrow(), w.StatusLb->text()),
              std::tuple(true, false, QString("Select 1 songs, 0:40, 3.91 KB")));
    ClickHeader(1);
    View(3);
    EXPECT_FALSE(arrow());
}
