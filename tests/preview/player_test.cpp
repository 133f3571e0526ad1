#include "TestAudio.h"
#include "platform/Errors.h"
#include "preview/BassBinding.h"
#include "preview/PodPlayer.h"
#include "tests/fixtures/DeviceTree.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/stat.h>

using preview::TBsPodPlayer;

const char kWide[] = "\xe9\x9f\xb3\xe6\xa5\xbd \xf0\x9f\x8e\xb5.mp3"; // a name outside Latin-1

struct Tracks : ::testing::Environment {
    std::unique_ptr<QTemporaryDir> Dir;
    void SetUp() override {
        Dir = std::make_unique<QTemporaryDir>();
        for (const auto& [name, format, seconds] : {std::tuple{"short.mp3", TestFormat::Mp3, 0.3},
                                                    {"short.m4a", TestFormat::Aac, 0.3},
                                                    {"alac.m4a", TestFormat::Alac, 0.3},
                                                    {"long.mp3", TestFormat::Mp3, 3.0},
                                                    {"tiny.mp3", TestFormat::Mp3, 0.1}})
            ASSERT_TRUE(WriteTestTrack(Dir->filePath(name), format, seconds)) << name;
        ASSERT_TRUE(QFile::copy(Dir->filePath("short.mp3"), Dir->filePath(kWide)));
    }
    void TearDown() override { Dir.reset(); }
};
auto* const gTracks = static_cast<Tracks*>(::testing::AddGlobalTestEnvironment(new Tracks));

static QString Track(const char* name) {
    return gTracks->Dir->filePath(QString::fromUtf8(name));
}

static bass::DWORD LiveStreams() {
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
        EXPECT_EQ(std::pair(Ends, LiveStreams()), std::pair(1, 0u));
    }
    const QString pipe = QDir::tempPath() + "/pipe.mp3";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    for (const QString& name : {Track("missing.mp3"), Track(""), pipe}) {
        ASSERT_TRUE(Player->Play(Track("long.mp3")));
        EXPECT_FALSE(Player->Play(name)) << name.toStdString();
        EXPECT_EQ(LiveStreams(), 0u) << name.toStdString();
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
        EXPECT_EQ(std::pair(Ends, LiveStreams()), std::pair(0, 0u)) << "round " << i;
    }
    EXPECT_TRUE(late > 0 && late < 30) << late;
}

// The program ends cleanly when it exits with a track playing (as on a lost display
// connection). A player whose files another copy of the program removed still frees the
// library, which can then be started again.
TEST_F(PlayerTest, EndsCleanlyWhilePlayingAndFreesWithoutItsFiles) {
    EXPECT_EXIT((Player->Play(Track("long.mp3")), std::exit(0)), ::testing::ExitedWithCode(0), "");
    ASSERT_TRUE(Player->Play(Track("long.mp3")));
    const QByteArray dir = Player->Dir();
    link_map* loaded = nullptr;
    ASSERT_EQ(dlinfo(preview::BassModule(), RTLD_DI_LINKMAP, &loaded), 0);
    void* library = dlopen(loaded->l_name, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_TRUE(library);
    for (const char* file : {"bass.dll", "aac.dll", "alac.dll"})
        ASSERT_EQ(::unlink((dir + file).constData()), 0);
    Player.reset();
    EXPECT_TRUE(reinterpret_cast<bass::InitFn*>(dlsym(library, "BASS_Init"))(-1, 44100, 0, nullptr, nullptr));
    reinterpret_cast<bass::FreeFn*>(dlsym(library, "BASS_Free"))();
    dlclose(library);
}

// No AAC decoder ranked is what a machine without one looks like: status 2.
TEST(PlayerCreate, MissingDecoderAndLibrariesAlreadyInTheFolder) {
    {
        const DecodersHidden aac("audio/mpeg, mpegversion=(int)4");
        TBsPodPlayer player(0, true);
        EXPECT_EQ(player.Status(), TBsPodPlayer::kNoPlugin);
        EXPECT_FALSE(player.Play(Track("short.m4a")));
    }

    // The library folder is the user's own, in the runtime folder or else named with the user
    // id in the temporary folder. Libraries found there are used and go with it. Where the name
    // is taken by another account's folder, a folder that the group or others may read or enter,
    // or a link, a fresh folder is used: the one found is not loaded from (its "bass.dll" is not
    // the library), nor written into, nor emptied.
    for (bool runtime : {true, false}) {
        if (!runtime)
            qunsetenv("XDG_RUNTIME_DIR");
        const QString name = QDir::tempPath() + (runtime ? "/~vrqplay" : "/~vrqplay-" + QString::number(::geteuid()));
        enum { Mine, Foreign, GroupOpen, OthersOpen, Link };
        for (int plant : {Mine, Foreign, GroupOpen, OthersOpen, Link}) {
            SCOPED_TRACE(runtime * 10 + plant);
            if (plant == Foreign && ::geteuid() != 0)
                continue; // only root can give a folder away
            const QString folder = plant == Link ? QDir::tempPath() + "/target" : name;
            const QByteArray native = QFile::encodeName(folder);
            const mode_t mode = plant == GroupOpen ? 0750 : plant == OthersOpen ? 0705 : 0700;
            ASSERT_TRUE(::mkdir(native.constData(), mode) == 0 && ::chmod(native.constData(), mode) == 0);
            for (auto [resource, file] : {std::pair{"BSDL", "bass.dll"}, {"BAADL", "aac.dll"}, {"BALDL", "alac.dll"}})
                ASSERT_TRUE(
                    QFile::copy(QStringLiteral(":/") + (plant == Mine ? resource : "BAADL"), folder + "/" + file));
            ASSERT_TRUE(plant != Link || QFile::link(folder, name));
            ASSERT_EQ(plant == Foreign ? ::chown(native.constData(), 65534, 65534) : 0, 0);
            QByteArray used;
            {
                TBsPodPlayer player(0, true);
                used = player.Dir();
                EXPECT_TRUE(player.Status() == TBsPodPlayer::kReady && player.Play(Track("short.mp3")));
                EXPECT_EQ(used == QFile::encodeName(name) + '/', plant == Mine);
                EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
                struct stat info;
                ASSERT_EQ(::lstat(used.chopped(1).constData(), &info), 0);
                EXPECT_TRUE(S_ISDIR(info.st_mode) && (info.st_mode & 0777) == 0700 && info.st_uid == ::geteuid());
            }
            EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(used)));
            EXPECT_EQ(QFileInfo::exists(folder), plant != Mine);
            QFile::remove(name);
            QDir(folder).removeRecursively();
        }
    }
}

// Another account that can write the temporary folder (shared, without the sticky bit) moves
// the library folder away once it has been checked and puts its own folder, with or without
// files, under that name: the libraries are still written to, loaded from and removed from the
// folder that was checked, and the other folder stays as it was. A player that fails part-way
// (the disk fills up) leaves no folder behind.
TEST(PlayerCreate, FolderSwappedAfterItsCheckAndAFailurePartWay) {
    qunsetenv("XDG_RUNTIME_DIR");
    const QString shared = QDir::tempPath() + "/shared";
    ASSERT_TRUE(QDir().mkdir(shared) && ::chmod(QFile::encodeName(shared).constData(), 0777) == 0);
    qputenv("TMPDIR", QFile::encodeName(shared));
    const QString name = shared + "/~vrqplay-" + QString::number(::geteuid()), moved = shared + "/moved";
    const auto entries = [](const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(' ').toStdString();
    };
    for (bool planted : {true, false}) {
        SCOPED_TRACE(planted);
        TBsPodPlayer::FolderCheckedHook = [&] {
            ASSERT_TRUE(QDir().rename(name, moved) && QDir().mkdir(name));
            // Each planted file is another library than its name says.
            for (auto [file, other] : {std::pair{"bass.dll", ":/BAADL"}, {"aac.dll", ":/BSDL"}, {"alac.dll", ":/BSDL"}})
                ASSERT_TRUE(!planted || QFile::copy(other, name + '/' + file));
        };
        {
            TBsPodPlayer player(0, true);
            EXPECT_TRUE(player.Status() == TBsPodPlayer::kReady && player.Play(Track("short.m4a")));
            EXPECT_EQ(entries(moved), "aac.dll alac.dll bass.dll");
        }
        TBsPodPlayer::FolderCheckedHook = nullptr;
        EXPECT_EQ(std::tuple(entries(moved), QFileInfo(name).isDir(), entries(name)),
                  std::tuple("", true, planted ? "aac.dll alac.dll bass.dll" : ""));
        QDir(name).removeRecursively();
        QDir(moved).removeRecursively();
    }

    {
        const fixtures::FileSizeLimit full(1);
        EXPECT_THROW(TBsPodPlayer(0, true), platform::EFOpenError);
    }
    EXPECT_EQ(entries(shared), "");
}

// aac.dll loads but lacks the entry points. Neither the binding nor a player without a folder
// of its own searches for the library by name, nor does the library for a plug-in: an empty
// entry of LD_LIBRARY_PATH (read by the loader of the child process) would turn that into a look
// in the working folder.
TEST(BassBinding, LoadsOnlyACompleteLibraryNeverByName) {
    const QByteArray dir = MG_BIN_DIR "/../audiolibs/";
    EXPECT_FALSE(preview::LoadBass(dir + "aac.dll"));
    ASSERT_TRUE(preview::LoadBass(dir + "bass.dll"));
    preview::UnloadBass();
    const QByteArray saved = qgetenv("LD_LIBRARY_PATH");
    qputenv("LD_LIBRARY_PATH", ":" + saved);
    const QString notAFolder = QDir::tempPath() + "/file";
    ASSERT_TRUE(QFile(notAFolder).open(QIODevice::WriteOnly));
    EXPECT_EXIT(
        {
            QDir::setCurrent(QString::fromUtf8(dir));
            qputenv("TMPDIR", QFile::encodeName(notAFolder));
            qunsetenv("XDG_RUNTIME_DIR");
            const TBsPodPlayer player(0, true);
            const bool byName = preview::LoadBass("bass.dll") || !preview::LoadBass(dir + "bass.dll") ||
                                preview::Bass.BASS_PluginLoad("aac.dll", 0) ||
                                !preview::Bass.BASS_PluginLoad(dir + "aac.dll", 0);
            std::exit(player.Status() == TBsPodPlayer::kNoLibrary && !byName ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    saved.isNull() ? qunsetenv("LD_LIBRARY_PATH") : qputenv("LD_LIBRARY_PATH", saved);
}
