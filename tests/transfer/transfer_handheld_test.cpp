// The handheld copy loop through the simulated device library: a cancel, the device leaving part-way,
// files already in the folder, and copies that come up short.
#include "tests/transfer/transfer_helpers.h"

#include <thread>

using namespace simtest;
using transfer_test::AllFiles;

namespace {

class HandheldTransferTest : public simtest::SimLink {
protected:
    void SetUp() override {
        ASSERT_TRUE(Out.isValid());
        StartConnected();
        Db = std::make_unique<device::TiTunesDB>("D", true);
        Db->OutputFolder = Out.path() + "/";
        app::DetailLog.Clear();
    }
    device::TTrackItem& AddTrack(const QString& title, const QByteArray& content, uint32_t size = 0) {
        if (!content.isNull())
            Put("/var/mobile/Media/iTunes_Control/Music/F00/" + title + ".mp3", content);
        device::TTrackItem& t = Db->Tracks.Add();
        std::tie(t.Selected, t.TrackId, t.Title, t.Size) = std::tuple(1, uint32_t(Db->Tracks.Count()), title, size);
        t.Location = ":iTunes_Control:Music:F00:" + title + ".mp3";
        return t;
    }
    static QByteArray Content(int i) { return simtest::Pattern(3 * 1024 * 1024 + i); }
    // Runs every track to the end; the copied count.
    int RunTransfer(bool hadFiles, transfer_test::TransferRun run = {}) {
        return transfer_test::RunTransfer(
                   {.MusicCount = Db->Tracks.Count(), .Handheld = true, .MusicDestHasFiles = hadFiles}, {Db.get()},
                   std::move(run))
            .MusicCopied;
    }

    QTemporaryDir Out;
    std::unique_ptr<device::TiTunesDB> Db;
};

TEST_F(HandheldTransferTest, ACancelOrTheDeviceLeavingDuringACopyNeverLeavesATruncatedFile) {
    for (int i = 0; i < 6; ++i)
        AddTrack(QStringLiteral("T%1").arg(i), Content(i));
    // A cancel while a track is named: that copy completes, and no other begins.
    EXPECT_EQ(RunTransfer(false, transfer_test::CancelAt("2/6, T1")), 2);
    EXPECT_EQ(AllFiles(Out.path()), QStringList({"T0.mp3", "T1.mp3"}));
    QDir(Out.path()).removeRecursively();
    QDir().mkpath(Out.path());
    // The removal is handled on the library's own thread while the copies go on.
    std::thread removal;
    transfer_test::TransferRun run;
    run.Display->OnItem = [&](const QString& text) {
        if (text == "2/6, T1")
            removal = std::thread([this] { Sim("leave"); });
    };
    const int copied = RunTransfer(false, std::move(run));
    removal.join();
    Sim("wait");
    QCoreApplication::processEvents();
    // Whatever the moment of the removal, a file under a final name is a whole copy.
    const QStringList files = AllFiles(Out.path());
    EXPECT_EQ(files.size(), copied);
    EXPECT_GE(copied, 1); // the first track was copied before the removal began
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        QStringLiteral("\r\nMusic: %1/6\r\nPhotos: 0/0\r\nTo iTunes: 0, 0").arg(copied)));
    for (const QString& name : files)
        EXPECT_EQ(ReadFile(Out.path() + "/" + name), Content(name.mid(1, name.size() - 5).toInt()))
            << name.toStdString();
}

// A present file stands for its track only with the track's size; a copy that comes up short
// is not kept; nine failures are logged and the loop goes on.
TEST_F(HandheldTransferTest, PresentFilesShortCopiesAndFailuresPastTheNinth) {
    // A refusal: logged, but not in place of one of the nine.
    AddTrack("Escape", {}).Location = ":iTunes_Control:..:..:..:etc:hostname";
    AddTrack("Same", "12345", 5);
    AddTrack("Other", "12345", 5);
    AddTrack("Short", "123", 5);
    for (int i = 0; i < 12; ++i)
        AddTrack(QStringLiteral("Missing %1").arg(i), {});
    AddTrack("Here", "0123456789");
    WriteFile(Out.path() + "/Same.mp3", "abcde");
    WriteFile(Out.path() + "/Other.mp3", "cut");
    EXPECT_EQ(RunTransfer(true), 3);
    EXPECT_EQ(AllFiles(Out.path()), QStringList({"Here.mp3", "Other.mp3", "Other1.mp3", "Same.mp3"}));
    EXPECT_EQ(Db->Tracks.GetItem(1).DestPath, Out.path() + "/Same.mp3");
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.contains("Short.mp3\r\nRead error: the file ended before its size\r\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("Missing 7.mp3") && !log.contains("Missing 8.mp3"));
    EXPECT_TRUE(log.contains("/Escape\r\nNot found (outside the device): :iTunes_Control:..:..:..:etc:hostname\r\n"));
}

} // namespace
