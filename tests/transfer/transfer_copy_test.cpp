#include "transfer_helpers.h"

#include "transfer/TrackCopy.h"

#include <QProcess>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

using namespace transfer_test;

TEST_F(TransferTest, CopyPrimitiveKeepsTheTimeAndNeverReplaces) {
    WriteFile(DeviceRoot + "/A.mp3", QByteArray(300000, 'a'));
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(DeviceRoot + "/A.mp3"), times, 0);
    WriteFile(Music + "B.mp3", "old");
    EXPECT_TRUE(app::CopyFileNoReplace("E:/A.mp3", Music + "A.mp3").Ok());
    EXPECT_EQ(app::CopyFileNoReplace("E:/A.mp3", Music + "B.mp3").Code, app::ErrFileExists);
    EXPECT_EQ(QFileInfo(Music + "A.mp3").lastModified().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(std::pair(ReadFile(Music + "A.mp3"), ReadFile(Music + "B.mp3")),
              std::pair(QByteArray(300000, 'a'), QByteArray("old")));
    EXPECT_EQ(AllFiles(Music), QStringList({"A.mp3", "B.mp3"}));
}

TEST_F(TransferTest, DiskLoopCountsPresentFilesOnlyWithTheTracksBytes) {
    // Two artists' "Intro" of one size, and a third one's in the folder already: they differ in
    // their last or their first byte only. Sizes are stored wrongly, as often.
    QByteArray a = simtest::Pattern(300000), b = a, other = a;
    b[b.size() - 1] = 'b';
    other[0] = 'o';
    AddTrack("Intro", "a.mp3", a, "A").Size = 7;
    AddTrack("Intro", "b.mp3", b, "B").Size = 7;
    AddTrack("Song", "s.mp3", "three").Size = 7;
    // Present: another song, B's copy under a numbered name, and a copy cut short.
    for (const auto& [name, bytes] :
         {std::pair<const char*, QByteArray>{"Intro", other}, {"Intro1", b}, {"Song", "thr"}})
        WriteFile(Music + name + ".mp3", bytes);
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(Run({.MusicCount = 3, .MusicDestHasFiles = true}).MusicCopied, 3);
        EXPECT_EQ(ReadFile(Music + "Intro2.mp3"), a);
        EXPECT_EQ(ReadFile(Music + "Song1.mp3"), "three");
        EXPECT_EQ(Db->Tracks.GetItem(1).DestPath, Music + "Intro1.mp3");
        EXPECT_EQ(AllFiles(Music), QStringList({"Intro.mp3", "Intro1.mp3", "Intro2.mp3", "Song.mp3", "Song1.mp3"}));
    }
    // A name written for A in this run does not hide B's earlier copy under a numbered name.
    for (const char* gone : {"Intro.mp3", "Intro2.mp3"})
        QFile::remove(Music + gone);
    EXPECT_EQ(Run({.MusicCount = 3, .MusicDestHasFiles = true}).MusicCopied, 3);
    EXPECT_EQ(AllFiles(Music), QStringList({"Intro.mp3", "Intro1.mp3", "Song.mp3", "Song1.mp3"}));
}

TEST_F(TransferTest, DiskLoopStopsAtTheTwentyFirstParameterError) {
    // A device file's extension long enough to take the name past the file system's limit.
    const QString ext = "." + QString(240, 'x');
    for (int i = 0; i < 22; ++i)
        AddTrack(QStringLiteral("Long title number %1").arg(i), QStringLiteral("P%1").arg(i) + ext, "p");
    AddTrack("After", "After.mp3", "after");
    Run({.MusicCount = 23});
    const QString log = app::DetailLog.Text();
    EXPECT_EQ(log.count(" : parameter error\r\n"), 20);
    EXPECT_TRUE(log.contains("\r\n[X]Stopped at: Long title number 20" + ext +
                             "\r\nReason: Over 20 songs have parameter error.\r\n"
                             "Please skip the songs list above, then try again."));
    EXPECT_TRUE(AllFiles(Music).isEmpty());
}

TEST_F(TransferTest, DiskLoopStopsOnAFullDiskLeavingNothing) {
    AddTrack("Big", "Big.mp3", QByteArray(2 << 20, 'b'));
    AddTrack("Next", "Next.mp3", "n");
    {
        const FileSizeLimit full(1 << 20);
        Run({.MusicCount = 2});
    }
    EXPECT_TRUE(app::DetailLog.Text().contains("\r\n[X]Stopped at: Big.mp3\r\nReason: "));
    EXPECT_TRUE(AllFiles(Music).isEmpty());
}

TEST_F(TransferTest, DiskLoopStopsWhenTheFolderLayoutFails) {
    Db->NamingScheme = 1;
    AddTrack("One", "1.mp3", "1", "Art", "Alb");
    AddTrack("Two", "2.mp3", "2", "Blocked", "Alb");
    AddTrack("Three", "3.mp3", "3", "Art", "Alb");
    WriteFile(Music + "Blocked", "file in the way");
    EXPECT_EQ(Run({.MusicCount = 3}).MusicCopied, 1);
    EXPECT_TRUE(app::DetailLog.Text().contains("[X] Stopped at: Two\r\nReason, Cannot create artist folder:\r\n" +
                                               Music + "Blocked/Alb"));
    EXPECT_EQ(AllFiles(Music), QStringList({"Art/Alb/One.mp3", "Blocked"}));
}

TEST_F(TransferTest, EveryTrackStepsTheBarBeforeTheNextIsNamedAndTheLastStepIsShown) {
    AddTrack("One", "1.mp3", "1");
    AddTrack("Gone", "2.mp3", QByteArray());
    AddTrack("Three", "3.mp3", "3");
    WriteFile(Music + "Three.mp3", "3"); // present: stands for the track
    for (bool cancel : {false, true}) {
        TransferRun run = CancelAt(cancel ? "2/" : "no such line");
        QList<int> stepsAtItem;
        run.Display->OnItem = [&, d = run.Display.get(), cancelAt = run.Display->OnItem](const QString& text) {
            stepsAtItem << d->Steps;
            cancelAt(text);
        };
        const TransferRun done = Run({.MusicCount = 3, .MusicDestHasFiles = true}, nullptr, nullptr, std::move(run));
        // "Please wait ...", one line per track, the closing empty line; a cancel still shows
        // the step of the track it let finish.
        EXPECT_EQ(stepsAtItem, cancel ? QList<int>({0, 0, 1, 2}) : QList<int>({0, 0, 1, 2, 3}));
        EXPECT_EQ(done.Display->Steps, cancel ? 2 : 3);
    }
}

// The planted race for the test below, run in a child process: a display routine, posted
// through the panel's queue by a progress handler on another thread, reads a count that the
// copy thread goes on changing meanwhile.
int PlantDisplayRace() {
    app::THeadlessCopyDisplay display;
    int copied = 0; // a plain counter, as the thread's own are
    std::thread copier([&] {
        std::thread progress([&] { display.RunBlocking([&] { display.SetItemText(QString::number(copied)); }); });
        ++copied;
        progress.join();
    });
    while (display.Items.isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    copier.join();
    return 0;
}

#if defined(__SANITIZE_THREAD__) // GCC
#define MG_UNDER_TSAN 1
#elif defined(__has_feature) // clang
#if __has_feature(thread_sanitizer)
#define MG_UNDER_TSAN 1
#endif
#endif

// Code run through the panel's event queue is checked like any other: the suppressions leave
// out only races whose top frame lies in a library.
TEST(CopyDisplay, ARaceInAQueuedDisplayRoutineIsReported) {
#if !defined(MG_UNDER_TSAN)
    GTEST_SKIP() << "only a ThreadSanitizer build reports races";
#endif
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TSAN_OPTIONS", "suppressions=" MG_SOURCE_DIR "/scripts/tsan-suppressions.txt");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--plant-display-race"});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QByteArray report = child.readAllStandardError();
    EXPECT_TRUE(report.contains("ThreadSanitizer: data race") && report.contains("PlantDisplayRace"))
        << report.toStdString();
}
