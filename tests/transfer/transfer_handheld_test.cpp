// The handheld copy loop through the simulated device library, with the device leaving
// part-way through a transfer.
#include "tests/handheld/SimLink.h"
#include "tests/transfer/transfer_helpers.h"

#include <thread>

using transfer_test::AllFiles;
using transfer_test::ReadBytes;

namespace {

class HandheldTransferTest : public simtest::SimLink {
protected:
    static constexpr int Tracks = 6;

    void SetUp() override {
        ASSERT_TRUE(Out.isValid());
        for (int i = 0; i < Tracks; ++i)
            Put(QStringLiteral("/var/mobile/Media/iTunes_Control/Music/F00/T%1.mp3").arg(i), Content(i));
        StartConnected();
        Db = std::make_unique<device::TiTunesDB>("D", true);
        Db->OutputFolder = Out.path() + "/";
        for (int i = 0; i < Tracks; ++i) {
            device::TTrackItem& t = Db->Tracks.Add();
            t.Selected = 1;
            t.TrackId = uint32_t(i + 1);
            t.Title = QStringLiteral("T%1").arg(i);
            t.Location = QStringLiteral(":iTunes_Control:Music:F00:T%1.mp3").arg(i);
        }
        app::DetailLog.Clear();
    }

    static QByteArray Content(int i) { return simtest::Pattern(3 * 1024 * 1024 + i); }

    // Runs one transfer of every track to its end; the copied count from its final report.
    int RunTransfer(app::THeadlessCopyDisplay& display) {
        int copied = -1;
        display.Thread = new app::TCopyThread({Tracks, 0, 0, true, false, false, false, false, false},
                                              {Db.get(), nullptr, nullptr, &display});
        display.OnEnded = [&] { copied = display.Thread->FMusicCopied; };
        display.WaitForEnd();
        return copied;
    }

    QTemporaryDir Out;
    std::unique_ptr<device::TiTunesDB> Db;
};

TEST_F(HandheldTransferTest, DeviceLeavingBetweenTracksFailsTheRestAndLeavesNoPartialFile) {
    app::THeadlessCopyDisplay display;
    display.OnItem = [this](const QString& text) {
        if (text == "3/6, T2") {
            Sim("leave");
            Sim("wait");
        }
    };
    EXPECT_EQ(RunTransfer(display), 2);
    EXPECT_EQ(AllFiles(Out.path()), QStringList({"T0.mp3", "T1.mp3"}));
    EXPECT_EQ(ReadBytes(Out.path() + "/T1.mp3"), Content(1));
    const QString log = app::DetailLog.Text();
    for (int i = 2; i < Tracks; ++i) {
        EXPECT_TRUE(Db->Tracks.GetItem(i).DestPath.isEmpty());
        // Each failure names its destination, then the link's reason.
        const QString dest = Out.path() + QStringLiteral("/T%1.mp3\r\n").arg(i);
        ASSERT_GE(log.indexOf(dest), 0) << log.toStdString();
        EXPECT_FALSE(log.mid(log.indexOf(dest) + dest.size()).section("\r\n", 0, 0).isEmpty());
    }
    // No stop rule: every checked track steps the bar.
    EXPECT_EQ(display.Steps, Tracks);
    EXPECT_TRUE(log.endsWith("\r\nMusic: 2/6\r\nPhotos: 0/0\r\nTo iTunes: 0, 0"));
}

TEST_F(HandheldTransferTest, DeviceLeavingDuringACopyNeverLeavesATruncatedFile) {
    // The removal is handled on the library's own thread while the copies go on.
    app::THeadlessCopyDisplay display;
    std::thread removal;
    display.OnItem = [&](const QString& text) {
        if (text == "2/6, T1") removal = std::thread([this] { Sim("leave"); });
    };
    const int copied = RunTransfer(display);
    removal.join();
    Sim("wait");
    QCoreApplication::processEvents();

    // Whatever the moment of the removal, a file under a final name is a whole copy.
    const QStringList files = AllFiles(Out.path());
    EXPECT_EQ(files.size(), copied);
    EXPECT_GE(copied, 1); // the first track was copied before the removal began
    for (const QString& name : files)
        EXPECT_EQ(ReadBytes(Out.path() + "/" + name), Content(name.mid(1, name.size() - 5).toInt()))
            << name.toStdString();
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        QStringLiteral("\r\nMusic: %1/6\r\nPhotos: 0/0\r\nTo iTunes: 0, 0").arg(copied)));
}

} // namespace
