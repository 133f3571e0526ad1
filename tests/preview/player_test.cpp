#include "TestAudio.h"
#include "preview/BassBinding.h"
#include "preview/PodPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>
#include <dlfcn.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using preview::TBsPodPlayer;

namespace {

QString Track(const char* name) {
    return QDir::tempPath() + "/tracks/" + QString::fromUtf8(name);
}
const char kWide[] = "\xe9\x9f\xb3\xe6\xa5\xbd \xf0\x9f\x8e\xb5.mp3"; // a name outside Latin-1

const std::tuple<const char*, TestFormat, double> kTracks[] = {{"short.mp3", TestFormat::Mp3, 0.3},
                                                               {"short.m4a", TestFormat::Aac, 0.3},
                                                               {"alac.m4a", TestFormat::Alac, 0.3},
                                                               {"long.mp3", TestFormat::Mp3, 3.0},
                                                               {"tiny.mp3", TestFormat::Mp3, 0.1}};
struct Tracks : ::testing::Environment {
    void SetUp() override {
        QDir().mkpath(Track(""));
        for (const auto& [name, format, seconds] : kTracks)
            ASSERT_TRUE(WriteTestTrack(Track(name), format, seconds)) << name;
        ASSERT_TRUE(QFile::copy(Track("short.mp3"), Track(kWide)));
    }
};
const auto* const gTracks = ::testing::AddGlobalTestEnvironment(new Tracks);

bass::DWORD LiveStreams() {
    auto count = reinterpret_cast<bass::StreamCountFn*>(dlsym(preview::BassModule(), bass::kStreamCountName));
    return count ? count() : ~0u;
}

class PlayerTest : public ::testing::Test, public QObject {
protected:
    int Ends = 0;
    std::unique_ptr<TBsPodPlayer> Player;

    void SetUp() override {
        Player = std::make_unique<TBsPodPlayer>(platform::RegisterWindow(this), true);
        ASSERT_EQ(Player->Status(), TBsPodPlayer::kReady);
    }
    bool event(QEvent* e) override {
        Ends += e->type() == QEvent::Type(preview::WM_PREVIEW_END);
        return true;
    }
    // Waits until the end message came, then a little longer for any second one.
    void WaitForEnd() {
        QTest::qWaitFor([this] { return Ends > 0; }, 5000);
        QTest::qWait(200);
    }
};

// Each format plays to its end once, also when it replaced a playing stream; pause and resume
// act where they can, and a paused track waits; an empty name stops the playing stream; files
// that do not play leave no stream.
TEST_F(PlayerTest, EachFormatPlaysToItsEndOncePausesAndFailuresLeaveNoStream) {
    for (const char* name : {"short.mp3", "short.m4a", "alac.m4a", kWide}) {
        SCOPED_TRACE(name);
        Ends = 0;
        ASSERT_TRUE(Player->Play(Track("long.mp3")));
        ASSERT_TRUE(Player->Play(Track(name)));
        EXPECT_EQ(Player->GetState(), preview::stPlaying);
        EXPECT_EQ(LiveStreams(), 1u);
        WaitForEnd();
        EXPECT_EQ(Ends, 1);
        EXPECT_EQ(Player->GetState(), preview::stStopped);
        EXPECT_EQ(LiveStreams(), 0u);
    }
    using namespace preview;
    // Pause and resume of nothing change nothing; a second pause or resume changes nothing more;
    // a paused track waits.
    Player->Pause();
    Player->Resume();
    EXPECT_EQ(Player->GetState(), stStopped);
    Ends = 0;
    ASSERT_TRUE(Player->Play(Track("short.mp3")));
    Player->Pause();
    Player->Pause();
    EXPECT_EQ(Player->GetState(), stPaused);
    QTest::qWait(600);
    EXPECT_EQ(Ends, 0);
    Player->Resume();
    Player->Resume();
    EXPECT_EQ(Player->GetState(), stPlaying);
    WaitForEnd();
    EXPECT_EQ(Ends, 1);

    ASSERT_TRUE(Player->Play(Track("long.mp3")));
    EXPECT_FALSE(Player->Play(QString()));
    EXPECT_EQ(Player->Status(), TBsPodPlayer::kEmptyName);
    EXPECT_EQ(LiveStreams(), 0u);
    QFile text(Track("text.mp3"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write(QByteArray(20000, 'x')) == 20000);
    text.close();
    ASSERT_EQ(::mkfifo(QFile::encodeName(Track("pipe.mp3")).constData(), 0600), 0);
    for (const char* name : {"text.mp3", "missing.mp3", "", "pipe.mp3"}) {
        EXPECT_FALSE(Player->Play(Track(name))) << name;
        EXPECT_EQ(Player->GetState(), stStopped);
        EXPECT_EQ(LiveStreams(), 0u);
    }
}

// Stop lands before, at and after the end; whoever releases the stream, it is released, and
// no end message reaches the window after the stop.
TEST_F(PlayerTest, StopAtTheEndReleasesOnceAndPostsNothingAfter) {
    // The delay homes in on the end: shorter after a stop that came too late, longer after
    // one that came too early.
    int delay = 100;
    int late = 0;
    for (int i = 0; i < 30; ++i) {
        Ends = 0;
        ASSERT_TRUE(Player->Play(Track("tiny.mp3")));
        QThread::msleep(delay);
        const bool ended = Player->GetState() == preview::stStopped;
        late += ended;
        delay += ended ? -3 : 2;
        Player->Stop();
        QTest::qWait(40);
        EXPECT_EQ(Ends, 0) << "round " << i;
        EXPECT_EQ(LiveStreams(), 0u) << "round " << i;
    }
    EXPECT_GT(late, 0);
    EXPECT_LT(late, 30);
}

// Taking every AAC decoder out of GStreamer's choice is what a machine without them looks like:
// status 2. No audio output at all: status 1.
TEST(PlayerCreate, MissingDecoderNoOutputAndLibrariesAlreadyInTheFolder) {
    GstCaps* aac = gst_caps_from_string("audio/mpeg, mpegversion=(int)4");
    GList* all = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GList* decoders = gst_element_factory_list_filter(all, aac, GST_PAD_SINK, FALSE);
    std::vector<std::pair<GstPluginFeature*, guint>> ranks;
    for (GList* d = decoders; d; d = d->next) {
        ranks.emplace_back(GST_PLUGIN_FEATURE(d->data),
                           gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(d->data)));
        gst_plugin_feature_set_rank(ranks.back().first, GST_RANK_NONE);
    }
    ASSERT_FALSE(ranks.empty());
    {
        TBsPodPlayer player(0, true);
        EXPECT_EQ(player.Status(), TBsPodPlayer::kNoPlugin);
        EXPECT_FALSE(player.Play(Track("short.m4a")));
        EXPECT_TRUE(player.Play(Track("alac.m4a")));
        EXPECT_TRUE(player.Play(Track("short.mp3")));
    }
    for (auto [feature, rank] : ranks)
        gst_plugin_feature_set_rank(feature, rank);
    gst_plugin_feature_list_free(decoders);
    gst_plugin_feature_list_free(all);
    gst_caps_unref(aac);
    const QByteArray sink = qgetenv("MARROWGATE_AUDIO_SINK");
    qputenv("MARROWGATE_AUDIO_SINK", "nosuchaudiosink");
    EXPECT_EQ(TBsPodPlayer(0, true).Status(), TBsPodPlayer::kNoLibrary);
    qputenv("MARROWGATE_AUDIO_SINK", sink);

    // Files already in the folder (another copy of the program, or one that died) are used as
    // they are, and removed with the folder at the end; a folder that others could have written
    // is never loaded from, nor emptied.
    const QString dir = QDir::tempPath() + "/~vrqplay";
    const QByteArray native = QFile::encodeName(dir);
    auto inodes = [&] {
        QList<ino_t> found;
        struct stat info {};
        for (const char* file : {"bass.dll", "aac.dll", "alac.dll"})
            found << (::stat(QFile::encodeName(dir + "/" + file).constData(), &info) == 0 ? info.st_ino : 0);
        return found;
    };
    for (mode_t mode : {0700, 0770, 0707}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::mkdir(native.constData(), 0700), 0);
        ASSERT_EQ(::chmod(native.constData(), mode), 0);
        for (auto [resource, file] :
             {std::pair{"BSDL", "bass.dll"}, {"BAADL", "aac.dll"}, {"BALDL", "alac.dll"}})
            ASSERT_TRUE(QFile::copy(QStringLiteral(":/") + resource, dir + "/" + file));
        const QList<ino_t> before = inodes();
        const bool privateFolder = mode == 0700;
        {
            TBsPodPlayer player(0, true);
            EXPECT_EQ(player.Status(), privateFolder ? TBsPodPlayer::kReady : TBsPodPlayer::kNoLibrary);
            EXPECT_EQ(player.Play(Track("short.mp3")), privateFolder);
            EXPECT_EQ(inodes(), before);
        }
        EXPECT_EQ(QDir(dir).exists(), !privateFolder);
        QDir(dir).removeRecursively();
    }
}

// The built files themselves: aac.dll loads but has none of the library's entry points. A bare
// name is for the loader's search, which never looks in the current folder.
TEST(BassBinding, LoadsOnlyACompleteLibraryAndKeepsTheFirst) {
    const QByteArray dir = MG_BIN_DIR "/../audiolibs/";
    const QString home = QDir::currentPath();
    QDir::setCurrent(QString::fromUtf8(dir));
    EXPECT_FALSE(preview::LoadBass(""));
    EXPECT_FALSE(preview::LoadBass("bass.dll"));
    QDir::setCurrent(home);
    EXPECT_FALSE(preview::LoadBass(dir + "aac.dll"));
    EXPECT_FALSE(preview::BassLoaded());
    ASSERT_TRUE(preview::LoadBass(dir + "bass.dll"));
    void* const first = preview::BassModule();
    EXPECT_TRUE(preview::LoadBass(dir + "alac.dll"));
    EXPECT_EQ(preview::BassModule(), first);
    preview::UnloadBass();
    EXPECT_FALSE(preview::BassLoaded());
}

} // namespace
