// The track preview in the window: the four buttons, the double click, the playing mark, the
// run down the list, the handheld's size limits and the questions before a stop. Tracks play
// into a fakesink that keeps real time.
#include "handheld/Iphone.h"
#include "platform/Library.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "tests/app/window_helpers.h"
#include "tests/fixtures/SimLibraries.h"
#include "tests/preview/TestAudio.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gst/gst.h>
#include <sys/stat.h>

namespace {

// Row sizes chosen around the two handheld limits (9 MiB asks, over 8 MiB is skipped).
const uint32_t kSizes[] = {5000, 9437184, 9437185, 9000000, 5000000};

fixtures::FixtureDb PreviewDb(const QString& folder) {
    fixtures::FixtureDb db;
    fixtures::FixturePlaylist master;
    master.Name = QStringLiteral("Test iPod");
    master.Master = true;
    for (int i = 0; i < 5; ++i) {
        fixtures::FixtureTrack t;
        t.TrackId = uint32_t(20 + i);
        t.Title = QStringLiteral("t%1").arg(i);
        t.Artist = i == 3 ? QStringLiteral("found") : QStringLiteral("other");
        t.Size = kSizes[i];
        t.Length = 400;
        t.Location = QStringLiteral(":%1:Music:F00:T%2.mp3").arg(folder).arg(i);
        db.Tracks.push_back(t);
        master.TrackIds.push_back(t.TrackId);
    }
    fixtures::FixturePlaylist other;
    other.Name = QStringLiteral("Other");
    other.TrackIds = {21};
    db.Playlists = {master, other};
    return db;
}

class PreviewTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        SavedTemp = qgetenv("TMPDIR");
        SavedSink = qgetenv("MARROWGATE_AUDIO_SINK");
        // A temporary folder of this process's own for the player's files and the copies.
        ASSERT_TRUE(QDir().mkpath(Temp.filePath(QStringLiteral("tmp"))));
        qputenv("TMPDIR", QFile::encodeName(Temp.filePath(QStringLiteral("tmp"))));
        qputenv("MARROWGATE_AUDIO_SINK", "fakesink sync=true");
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(WriteTestTrack(Temp.filePath(QStringLiteral("track.mp3")), TestFormat::Mp3, 1.0));
        QFile f(Temp.filePath(QStringLiteral("track.mp3")));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        Track = f.readAll();
    }
    void TearDown() override {
        WindowTest::TearDown();
        qputenv("TMPDIR", SavedTemp);
        qputenv("MARROWGATE_AUDIO_SINK", SavedSink);
        platform::SetCommonProgramFilesFolderForTesting(QString());
    }

    TZozoDodiFrm& OpenIpod() {
        fixtures::FixtureDb db = PreviewDb(QStringLiteral("iPod_Control"));
        Drives.clear();
        fixtures::DeviceTree tree = MakeIpod('E', db);
        for (const fixtures::FixtureTrack& t : db.Tracks)
            tree.WriteFile(fixtures::DeviceTree::LocationPath(t.Location), Track);
        return OpenShown();
    }

    TZozoDodiFrm& OpenPhone() {
        EXPECT_TRUE(Libs.isValid());
        EXPECT_TRUE(fixtures::InstallSimulatedLibraries(QStringLiteral(MG_BIN_DIR "/mobiledevice-sim/new"), Libs.path()));
        fixtures::DeviceTree phone(Temp.filePath(QStringLiteral("phone")));
        fixtures::FixtureDb db = PreviewDb(QStringLiteral("iTunes_Control"));
        phone.WriteHandheldTrackDb(fixtures::WriteTrackDb(db), true);
        for (const fixtures::FixtureTrack& t : db.Tracks)
            phone.WriteFile(QLatin1String(fixtures::DeviceTree::kMediaRoot) + QString(t.Location).replace(u':', u'/'), Track);
        TZozoDodiFrm& w = OpenShown();
        auto control = reinterpret_cast<PFN_MobileDeviceSimControl>(
            platform::GetProcAddress(handheld::IphoneState().MobileDeviceModule, "MobileDeviceSimControl"));
        EXPECT_NE(control, nullptr);
        if (control) {
            for (const QByteArray& c : {"root " + phone.Root().toUtf8(), QByteArray("arrive"), QByteArray("wait")})
                control(c.constData(), nullptr, 0);
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
        return w;
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
            if (!w.MusicModel->data(w.MusicModel->index(r, 0), Qt::DecorationRole).isNull()) {
                marked = r;
                ++marks;
            }
        EXPECT_LE(marks, 1);
        EXPECT_EQ(w.FPlayingNode.isValid() ? w.FPlayingNode.row() : -1, marked);
        EXPECT_EQ(w.TrackDb->PlayingIndex, marked < 0 ? -1 : w.MusicModel->TrackIndexAt(marked));
        return marked;
    }
    // The next modal box is answered by a click on `button`; its text lands in BoxText.
    void AnswerBox(QMessageBox::StandardButton button, MessageBoxFn hook = MessageBoxHook) {
        MessageBoxHook = nullptr;
        QTimer::singleShot(20, Window.get(), [this, button, hook] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return AnswerBox(button, hook);
            BoxText = box->text();
            QTest::mouseClick(box->button(button), Qt::LeftButton);
            MessageBoxHook = hook;
        });
    }

    QByteArray Track, SavedTemp, SavedSink;
    QTemporaryDir Libs;
    QString BoxText;
};

enum Action { Play, Pause, Next, Prev, DoubleClick1, DoubleClick3, WaitForNext };
struct Step {
    Action Do;
    int Row;   // the row playing or paused afterwards, -1 when idle
    int State; // the player's state afterwards
};

TEST_F(PreviewTest, ButtonsDoubleClicksAndTheRunDownTheList) {
    TZozoDodiFrm& w = OpenIpod();
    ASSERT_TRUE(w.PreviewAvailable());
    EXPECT_TRUE(w.PauseBtn->isHidden());
    const Step steps[] = {
        {Play, 0, 1},         // nothing focused: the first row
        {Pause, 0, 2},        {Play, 0, 1}, // resumes
        {Next, 1, 1},         // a 9 MiB row is not skipped on a disk-mode iPod
        {Prev, 0, 1},         {Prev, -1, 0}, // before the first row: stopped
        {DoubleClick1, 1, 1}, {Pause, 1, 2},
        {DoubleClick3, 3, 1}, // a paused track gives way to the clicked row
        {WaitForNext, 4, 1},  {WaitForNext, -1, 0}, // the last row ends: idle
        {Play, 3, 1},         // the focused row
        {Next, 4, 1},         {Next, -1, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(int(&s - steps));
        switch (s.Do) {
        case Play: Click(w.PlayBtn); break;
        case Pause: Click(w.PauseBtn); break;
        case Next: Click(w.NxtSongBtn); break;
        case Prev: Click(w.PrvSongBtn); break;
        case DoubleClick1: DoubleClick(1); break;
        case DoubleClick3: DoubleClick(3); break;
        case WaitForNext: {
            const int before = w.FPlayingNode.row();
            QTRY_VERIFY_WITH_TIMEOUT(w.FPlayingNode.row() != before, 5000);
            break;
        }
        }
        EXPECT_EQ(PlayingRow(), s.Row);
        EXPECT_EQ(w.FPlayer->GetState(), s.State);
        EXPECT_EQ(w.PauseBtn->isHidden(), s.State != 1);
        EXPECT_EQ(w.PlayBtn->isHidden(), s.State == 1);
    }
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(PreviewTest, HandheldLimitsAndItsTemporaryCopy) {
    TZozoDodiFrm& w = OpenPhone();
    ASSERT_TRUE(w.PreviewAvailable());
    // Exactly 9 MiB plays without a question; Next then skips both rows over 8 MiB.
    DoubleClick(1);
    EXPECT_EQ(PlayingRow(), 1);
    EXPECT_TRUE(Boxes.empty());
    Click(w.NxtSongBtn);
    EXPECT_EQ(PlayingRow(), 4);
    Click(w.PrvSongBtn);
    EXPECT_EQ(PlayingRow(), 0);
    const QString copy = QFile::decodeName(w.FPreviewTemp);
    EXPECT_TRUE(copy.startsWith(Temp.filePath(QStringLiteral("tmp"))));
    EXPECT_EQ(QFileInfo(copy).size(), Track.size());
    // One byte more asks; Yes leaves the preview as it was, No plays it.
    for (MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
        Answer = answer;
        DoubleClick(2);
        EXPECT_EQ(BoxesStarting(QStringLiteral("Warning! The size of selected song is over 9MB.")),
                  answer == MsgResult::Yes ? 1 : 2);
        EXPECT_EQ(PlayingRow(), answer == MsgResult::Yes ? 0 : 2);
    }
    Window.reset();
    EXPECT_FALSE(QFileInfo::exists(copy));
}

TEST_F(PreviewTest, ChangingTheTreeNodeAsksWhileATrackPlays) {
    struct Case {
        bool Paused;
        QMessageBox::StandardButton Answer;
        bool Changes;
    };
    for (const Case c : {Case{false, QMessageBox::No, false}, Case{false, QMessageBox::Yes, true},
                         Case{true, QMessageBox::No, true}}) {
        TZozoDodiFrm& w = OpenIpod();
        BoxText.clear();
        QTreeWidgetItem* root = w.PlayLstList->currentItem();
        QTreeWidgetItem* other = root->child(2);
        Click(w.PlayBtn);
        if (c.Paused)
            Click(w.PauseBtn);
        AnswerBox(c.Answer);
        QTest::mouseClick(w.PlayLstList->viewport(), Qt::LeftButton, {},
                          w.PlayLstList->visualItemRect(other).center());
        QCoreApplication::processEvents();
        EXPECT_EQ(BoxText.startsWith(QStringLiteral("This action will stop the music that is playing.")), !c.Paused);
        EXPECT_EQ(w.PlayLstList->currentItem(), c.Changes ? other : root);
        EXPECT_EQ(w.PlayLstList->selectedItems(), QList<QTreeWidgetItem*>{c.Changes ? other : root});
        EXPECT_EQ(w.MusicModel->Count(), c.Changes ? 1 : 5);
        EXPECT_EQ(PlayingRow(), c.Changes ? -1 : 0);
        EXPECT_EQ(w.FPlayer->GetState(), c.Changes ? 0 : 1);
        Window.reset();
    }
}

TEST_F(PreviewTest, ARefilledListFindsThePlayingRowAgain) {
    TZozoDodiFrm& w = OpenIpod();
    QTest::keyClicks(w.SrEdit, QStringLiteral("found"));
    QTest::keyClick(w.SrEdit, Qt::Key_Return);
    ASSERT_EQ(w.MusicModel->Count(), 1);
    DoubleClick(0);
    EXPECT_EQ(PlayingRow(), 0);
    QTest::mouseClick(w.ClearImg, Qt::LeftButton);
    ASSERT_EQ(w.MusicModel->Count(), 5);
    EXPECT_EQ(PlayingRow(), 3);
    EXPECT_EQ(w.FPlayer->GetState(), 1);
    // A sort carries the row along; Next follows the list's new order.
    w.MusicModel->Sort(TrackListModel::ColName, false);
    EXPECT_EQ(PlayingRow(), 1);
    Click(w.NxtSongBtn);
    EXPECT_EQ(PlayingRow(), 2);
    EXPECT_EQ(w.TrackDb->PlayingIndex, 2);
    // A view without the track: it plays on without a row, and its end leaves the preview idle.
    QTreeWidgetItem* other = w.PlayLstList->topLevelItem(0)->child(2);
    Answer = MsgResult::Yes;
    QTest::mouseClick(w.PlayLstList->viewport(), Qt::LeftButton, {}, w.PlayLstList->visualItemRect(other).center());
    QTest::keyClicks(w.SrEdit, QStringLiteral("found"));
    QTest::keyClick(w.SrEdit, Qt::Key_Return);
    DoubleClick(0);
    QTest::mouseClick(w.ClearImg, Qt::LeftButton);
    EXPECT_FALSE(w.FPlayingNode.isValid());
    EXPECT_EQ(w.TrackDb->PlayingIndex, 3);
    EXPECT_EQ(w.FPlayer->GetState(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!w.PlayBtn->isHidden(), 5000);
    EXPECT_EQ(w.TrackDb->PlayingIndex, -1);
}

// Only a regular file inside the device is played: not a link out of it, not a pipe.
TEST_F(PreviewTest, OnlyFilesInsideTheDevicePlay) {
    TZozoDodiFrm& w = OpenIpod();
    const QString music = Temp.filePath(QStringLiteral("devE/iPod_Control/Music/F00/"));
    ASSERT_TRUE(QFile::remove(music + QStringLiteral("T0.mp3")));
    ASSERT_TRUE(QFile::link(Temp.filePath(QStringLiteral("track.mp3")), music + QStringLiteral("T0.mp3")));
    ASSERT_TRUE(QFile::remove(music + QStringLiteral("T1.mp3")));
    ASSERT_EQ(mkfifo(QFile::encodeName(music + QStringLiteral("T1.mp3")).constData(), 0600), 0);
    for (int row : {0, 1}) {
        DoubleClick(row);
        EXPECT_EQ(PlayingRow(), -1);
    }
    DoubleClick(2);
    EXPECT_EQ(PlayingRow(), 2);
}

TEST_F(PreviewTest, AMissingDecoderLeavesNoPreview) {
    GstCaps* alac = gst_caps_from_string("audio/x-alac");
    GList* all = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GList* decoders = gst_element_factory_list_filter(all, alac, GST_PAD_SINK, FALSE);
    std::vector<std::pair<GstPluginFeature*, guint>> ranks;
    for (GList* d = decoders; d; d = d->next) {
        auto feature = GST_PLUGIN_FEATURE(d->data);
        ranks.emplace_back(feature, gst_plugin_feature_get_rank(feature));
        gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
    }
    ASSERT_FALSE(ranks.empty());
    TZozoDodiFrm& w = OpenIpod();
    for (TPicButton* b : {w.PlayBtn, w.PauseBtn, w.PrvSongBtn, w.NxtSongBtn})
        EXPECT_TRUE(b->isHidden());
    EXPECT_FALSE(w.FPlayer);
    DoubleClick(0);
    EXPECT_EQ(PlayingRow(), -1);
    for (auto [feature, rank] : ranks)
        gst_plugin_feature_set_rank(feature, rank);
    gst_plugin_feature_list_free(decoders);
    gst_plugin_feature_list_free(all);
    gst_caps_unref(alac);
}

} // namespace
