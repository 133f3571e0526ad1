#include "TestAudio.h"
#include "preview/BassBinding.h"
#include "preview/PodPlayer.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <dlfcn.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using preview::TBsPodPlayer;

namespace {

QString Track(const char* name) {
    return QDir::tempPath() + "/tracks/" + QString::fromUtf8(name);
}
const char kWide[] = "\xe9\x9f\xb3\xe6\xa5\xbd \xf0\x9f\x8e\xb5.mp3"; // a name outside Latin-1

struct Tracks : ::testing::Environment {
    void SetUp() override {
        QDir().mkpath(Track(""));
        for (const auto& [name, format, seconds] : {std::tuple{"short.mp3", TestFormat::Mp3, 0.3},
                                                    {"short.m4a", TestFormat::Aac, 0.3},
                                                    {"alac.m4a", TestFormat::Alac, 0.3},
                                                    {"long.mp3", TestFormat::Mp3, 3.0},
                                                    {"tiny.mp3", TestFormat::Mp3, 0.1}})
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
};

// Each format ends once, also after replacing a playing stream; files that do not play leave no
// stream.
TEST_F(PlayerTest, EachFormatEndsOnceAndFailuresLeaveNoStream) {
    for (const char* name : {"short.mp3", "short.m4a", "alac.m4a", kWide}) {
        SCOPED_TRACE(name);
        Ends = 0;
        ASSERT_TRUE(Player->Play(Track("long.mp3")) && Player->Play(Track(name)));
        EXPECT_TRUE(QTest::qWaitFor([this] { return Ends > 0; }, 5000));
        QTest::qWait(200); // for any second one
        EXPECT_EQ(Ends, 1);
        EXPECT_EQ(LiveStreams(), 0u);
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(Track("pipe.mp3")).constData(), 0600), 0);
    for (const char* name : {"missing.mp3", "", "pipe.mp3"}) {
        ASSERT_TRUE(Player->Play(Track("long.mp3")));
        EXPECT_FALSE(Player->Play(Track(name))) << name;
        EXPECT_EQ(LiveStreams(), 0u) << name;
    }
}

// Stop lands before, at and after the end: the stream is released and no end message follows.
TEST_F(PlayerTest, StopAtTheEndReleasesOnceAndPostsNothingAfter) {
    int delay = 100, late = 0;
    for (int i = 0; i < 30; ++i) {
        Ends = 0;
        ASSERT_TRUE(Player->Play(Track("tiny.mp3")));
        QTest::qSleep(delay);
        const bool ended = Player->GetState() == preview::stStopped;
        late += ended;
        delay += ended ? -3 : 2; // homes in on the end
        Player->Stop();
        QTest::qWait(40);
        EXPECT_EQ(Ends, 0) << "round " << i;
        EXPECT_EQ(LiveStreams(), 0u) << "round " << i;
    }
    EXPECT_GT(late, 0);
    EXPECT_LT(late, 30);
}

// No AAC decoder ranked is what a machine without one looks like: status 2.
TEST(PlayerCreate, MissingDecoderAndLibrariesAlreadyInTheFolder) {
    GstCaps* aac = gst_caps_from_string("audio/mpeg, mpegversion=(int)4");
    GList* all = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GList* decoders = gst_element_factory_list_filter(all, aac, GST_PAD_SINK, FALSE);
    std::vector<std::pair<GstPluginFeature*, guint>> ranks;
    for (GList* d = decoders; d; d = d->next) {
        ranks.emplace_back(GST_PLUGIN_FEATURE(d->data), gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(d->data)));
        gst_plugin_feature_set_rank(ranks.back().first, GST_RANK_NONE);
    }
    {
        TBsPodPlayer player(0, true);
        EXPECT_EQ(player.Status(), TBsPodPlayer::kNoPlugin);
        EXPECT_FALSE(player.Play(Track("short.m4a")));
    }
    for (auto [feature, rank] : ranks)
        gst_plugin_feature_set_rank(feature, rank);
    gst_plugin_feature_list_free(decoders);
    gst_plugin_feature_list_free(all);
    gst_caps_unref(aac);

    // Files already in a private folder are used and go with it; a folder others
    // could have written is never loaded from, nor emptied.
    const QString dir = QDir::tempPath() + "/~vrqplay";
    for (mode_t mode : {0700, 0770, 0707}) {
        ASSERT_EQ(::mkdir(QFile::encodeName(dir).constData(), 0700), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), mode), 0);
        for (auto [resource, file] : {std::pair{"BSDL", "bass.dll"}, {"BAADL", "aac.dll"}, {"BALDL", "alac.dll"}})
            ASSERT_TRUE(QFile::copy(QStringLiteral(":/") + resource, dir + "/" + file));
        {
            TBsPodPlayer player(0, true);
            EXPECT_EQ(player.Play(Track("short.mp3")), mode == 0700) << mode;
        }
        EXPECT_EQ(QDir(dir).exists(), mode != 0700) << mode;
        QDir(dir).removeRecursively();
    }
}

// aac.dll loads but lacks the entry points; a bare name never finds the current folder.
TEST(BassBinding, LoadsOnlyACompleteLibraryNeverFromTheCurrentFolder) {
    const QByteArray dir = MG_BIN_DIR "/../audiolibs/";
    const QString home = QDir::currentPath();
    QDir::setCurrent(QString::fromUtf8(dir));
    EXPECT_FALSE(preview::LoadBass("bass.dll"));
    QDir::setCurrent(home);
    EXPECT_FALSE(preview::LoadBass(dir + "aac.dll"));
    ASSERT_TRUE(preview::LoadBass(dir + "bass.dll"));
    preview::UnloadBass();
}

} // namespace
