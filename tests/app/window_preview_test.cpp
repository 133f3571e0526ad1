// The track preview in the window: its buttons and double clicks, the run down the list, the
// handheld's size limits and the question before a stop. Tracks play into a real-time fakesink.
#include "tests/app/window_helpers.h"
#include "tests/preview/TestAudio.h"

#include <QFile>
#include <QLineEdit>
#include <sys/stat.h>

// Row sizes around the two handheld limits (9 MiB asks, over 8 MiB is skipped).
const uint32_t kSizes[] = {5000, 9437184, 9437185, 9000000, 5000000};

static fixtures::FixtureDb PreviewDb(const char* folder) {
    fixtures::FixtureDb db;
    db.Playlists = {{.Name = "Test iPod", .Master = true}, {.Name = "Other", .TrackIds = {20, 21, 22}}};
    for (uint32_t i = 0; i < 5; ++i) {
        // Positional, as in WindowDb().
        db.Tracks.push_back({20 + i, 0, kSizes[i], 400, 0, 1, false, 0, 0, i == 3 ? "found" : "",
                             QStringLiteral(":%1:Music:F00:T%2.mp3").arg(folder).arg(i)});
        db.Playlists[0].TrackIds.push_back(20 + i);
    }
    return db;
}

class PreviewTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        qputenv("MARROWGATE_AUDIO_SINK", "fakesink sync=true");
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(WriteTestTrack(Temp.filePath("track.mp3"), TestFormat::Mp3, 1.0));
        Track = fixtures::DeviceTree(Temp.path()).ReadFile("track.mp3");
    }
    void TearDown() override {
        WindowTest::TearDown();
        qputenv("MARROWGATE_AUDIO_SINK", SavedSink);
    }

    TZozoDodiFrm& OpenIpod() {
        const fixtures::FixtureDb db = PreviewDb("iPod_Control");
        const fixtures::DeviceTree tree = MakeIpod('E', db);
        for (const fixtures::FixtureTrack& t : db.Tracks)
            tree.WriteFile(fixtures::DeviceTree::LocationPath(t.Location), Track);
        return OpenShown();
    }

    void Click(QWidget* button) {
        ASSERT_TRUE(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }
    void DoubleClick(int row) {
        const QRect r = Window->MusicList->visualRect(Window->MusicModel->index(row, TrackListModel::ColTime));
        QTest::mouseClick(Window->MusicList->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(Window->MusicList->viewport(), Qt::LeftButton, {}, r.center());
    }
    // The marked row (-1 when none), checked against the playing node and index.
    int PlayingRow() {
        TZozoDodiFrm& w = *Window;
        int marked = -1, marks = 0;
        for (int r = 0; r < w.MusicModel->Count(); ++r)
            if (!w.MusicModel->data(w.MusicModel->index(r, 0), TrackListModel::MarkRole).isNull())
                marked = r, ++marks;
        EXPECT_LE(marks, 1);
        EXPECT_EQ(w.FPlayingNode.isValid() ? w.FPlayingNode.row() : -1, marked);
        EXPECT_EQ(w.TrackDb->PlayingIndex, marked < 0 ? -1 : w.MusicModel->TrackIndexAt(marked));
        return marked;
    }

    QByteArray Track, SavedSink = qgetenv("MARROWGATE_AUDIO_SINK");
};

TEST_F(PreviewTest, ButtonsDoubleClicksAndTheRunDownTheList) {
    TZozoDodiFrm& w = OpenIpod();
    TPicButton* const buttons[] = {w.PlayBtn, w.PauseBtn, w.NxtSongBtn, w.PrvSongBtn};
    enum { Play, Pause, Next, Prev, Wait, Below, DClick };
    // What to do, then the row playing or paused (-1 when idle) and the player's state. Nothing
    // is focused at first: Play takes the first row; a 9 MiB row plays on a disk-mode iPod. A
    // double click below the rows starts the focused row.
    const int steps[][3] = {{Play, 0, 1},  {Pause, 0, 2},      {Play, 0, 1},       {Next, 1, 1},
                            {Prev, 0, 1},  {Prev, -1, 0},      {DClick + 1, 1, 1}, {Pause, 1, 2},
                            {Below, 1, 1}, {DClick + 3, 3, 1}, {Wait, 4, 1},       {Wait, -1, 0},
                            {Play, 3, 1},  {Next, 4, 1},       {Next, -1, 0},      {Below, 3, 1}};
    // The mark changes no row's height, and it shows whole on the selection of the row Play plays.
    const QRect lastRow = w.MusicList->visualRect(w.MusicModel->index(4, 1));
    const auto markSpan = [&](int row) {
        const auto group = w.MusicList->isActiveWindow() ? QPalette::Active : QPalette::Inactive;
        const QRgb u = w.MusicList->palette().color(group, QPalette::Highlight).rgb();
        const QImage cell =
            w.MusicList->viewport()->grab(w.MusicList->visualRect(w.MusicModel->index(row, 0))).toImage();
        QRect span;
        for (int y = 0; y < cell.height(); ++y)
            for (int x = 0; x < cell.width() - 1; ++x) // the grid line at the right is not the mark
                if (const QRgb c = cell.pixel(x, y);
                    std::abs(qRed(c) - qRed(u)) + std::abs(qGreen(c) - qGreen(u)) + std::abs(qBlue(c) - qBlue(u)) > 120)
                    span |= QRect(x, y, 1, 1);
        return span.size();
    };
    for (const auto& [act, row, state] : steps) {
        SCOPED_TRACE(int(&act - &steps[0][0]) / 3);
        const int before = w.FPlayingNode.row();
        if (act == Wait)
            QTRY_VERIFY_WITH_TIMEOUT(w.FPlayingNode.row() != before, 5000);
        else if (act == Below)
            QTest::mouseDClick(w.MusicList->viewport(), Qt::LeftButton, {},
                               QPoint(60, w.MusicList->viewport()->height() - 3));
        else if (act >= DClick)
            DoubleClick(act - DClick);
        else
            Click(buttons[act]);
        EXPECT_EQ(std::tuple(PlayingRow(), int(w.FPlayer->GetState()), w.PauseBtn->isHidden()),
                  std::tuple(row, state, state != 1));
        QCoreApplication::processEvents();
        EXPECT_EQ(w.MusicList->visualRect(w.MusicModel->index(4, 1)), lastRow);
        EXPECT_TRUE(act < DClick || markSpan(row) == w.MusicModel->PlayingIcon.size() + QSize(2, 2));
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(PreviewTest, HandheldLimitsAndItsTemporaryCopy) {
    const fixtures::DeviceTree phone(Temp.filePath("phone"));
    const fixtures::FixtureDb db = PreviewDb("iTunes_Control");
    phone.WriteHandheldTrackDb(fixtures::WriteTrackDb(db), true);
    for (const fixtures::FixtureTrack& t : db.Tracks)
        phone.WriteFile(fixtures::DeviceTree::kMediaRoot + fixtures::DeviceTree::LocationPath(t.Location), Track);
    TZozoDodiFrm& w = OpenWithPhone(phone);
    // Another phone came and went before the window heard of it: the copy still comes from the
    // phone loaded. Exactly 9 MiB plays without a question; Next then skips both rows over 8 MiB.
    const QByteArray other = Temp.filePath("other").toUtf8();
    for (const QByteArray& c : {"arrive " + other, QByteArray("wait"), "leave " + other, QByteArray("wait")})
        SimControl(c.constData(), nullptr, 0);
    DoubleClick(1);
    EXPECT_EQ(PlayingRow(), 1);
    Click(w.NxtSongBtn);
    EXPECT_EQ(PlayingRow(), 4);
    Click(w.PrvSongBtn);
    EXPECT_EQ(PlayingRow(), 0);
    const QString copy = QFile::decodeName(w.FPreviewTemp);
    EXPECT_EQ(QFileInfo(copy).size(), Track.size());
    // One byte more asks; Yes leaves the preview as it was, No plays it.
    for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
        Answer = answer;
        DoubleClick(2);
        EXPECT_EQ(BoxesStarting("Warning! The size of selected song is over 9MB."), answer == MsgResult::Yes ? 1 : 2);
        EXPECT_EQ(PlayingRow(), answer == MsgResult::Yes ? 0 : 2);
    }
    Window.reset();
    EXPECT_FALSE(QFileInfo::exists(copy));
}

TEST_F(PreviewTest, ListChangesWhileATrackPlays) {
    TZozoDodiFrm& w = OpenIpod();
    const QString music = Temp.filePath("devE/iPod_Control/Music/F00/");
    ASSERT_TRUE(QFile::remove(music + "T0.mp3") && QFile::link(Temp.filePath("track.mp3"), music + "T0.mp3"));
    ASSERT_TRUE(QFile::remove(music + "T1.mp3") && mkfifo(QFile::encodeName(music + "T1.mp3").constData(), 0600) == 0);
    ASSERT_TRUE(QFile::remove(music + "T2.mp3") && QFile::link("T4.mp3", music + "T2.mp3"));
    // A search's row plays on and is found again when the search is cleared.
    QTest::keyClicks(w.SrEdit, "found");
    QTest::keyClick(w.SrEdit, Qt::Key_Return);
    ASSERT_EQ(w.MusicModel->Count(), 1);
    DoubleClick(0);
    QTest::mouseClick(w.ClearImg, Qt::LeftButton);
    EXPECT_EQ(PlayingRow(), 3);
    // Another node asks first while a track plays: No keeps node and track, Yes stops it.
    QTreeWidgetItem *root = w.PlayLstList->currentItem(), *other = root->child(2);
    for (MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
        Answer = answer;
        QTest::mouseClick(w.PlayLstList->viewport(), Qt::LeftButton, {}, w.PlayLstList->visualItemRect(other).center());
        QCoreApplication::processEvents();
        EXPECT_EQ(w.PlayLstList->selectedItems(), QList{answer == MsgResult::Yes ? other : root});
        EXPECT_EQ(PlayingRow(), answer == MsgResult::Yes ? -1 : 3);
    }
    EXPECT_EQ(BoxesStarting("This action will stop the music that is playing."), 2);
    // A link, out of the device or within it, is not played (the copy does not follow one
    // either), nor is a pipe.
    ASSERT_EQ(w.MusicModel->Count(), 3);
    for (int row : {0, 1, 2}) {
        DoubleClick(row);
        EXPECT_EQ(PlayingRow(), -1);
    }
}

TEST_F(PreviewTest, AMissingDecoderLeavesNoPreview) {
    // Every ALAC decoder out of reach: its plug-in fails, so the player never starts.
    const DecodersHidden alac("audio/x-alac");
    ASSERT_TRUE(alac.Any());
    TZozoDodiFrm& w = OpenIpod();
    for (TPicButton* b : {w.PlayBtn, w.PauseBtn, w.PrvSongBtn, w.NxtSongBtn})
        EXPECT_TRUE(b->isHidden());
    DoubleClick(0);
    EXPECT_EQ(PlayingRow(), -1);
}
