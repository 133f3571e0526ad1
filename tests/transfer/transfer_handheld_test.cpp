// The handheld copy loop through the simulated device library: a cancel, the device leaving part-way,
// files already in the folder, wrong stored sizes, and copies that come up short.
#include "tests/transfer/transfer_helpers.h"

#include <thread>

using namespace simtest;
using transfer_test::AllFiles;

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
    // The first track was copied before the removal began.
    EXPECT_TRUE(files.size() == copied && copied >= 1) << copied;
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        QStringLiteral("\r\nMusic: %1/6\r\nPhotos: 0/0\r\nTo iTunes: 0, 0").arg(copied)));
    for (const QString& name : files)
        EXPECT_EQ(ReadFile(Out.path() + "/" + name), Content(name.mid(1, name.size() - 5).toInt()))
            << name.toStdString();
}

// A present file stands for its track only with the bytes the device has for it, whatever size
// the database stores; each file is copied whole, and a copy that does not come to the size
// the device gives is not kept; nine failures are logged and the loop goes on.
TEST_F(HandheldTransferTest, PresentFilesWrongStoredSizesShortCopiesAndFailuresPastTheNinth) {
    // A refusal: logged, but not in place of one of the nine.
    AddTrack("Escape", {}).Location = ":iTunes_Control:..:..:..:etc:hostname";
    QByteArray intro = Pattern(300000), other = intro;
    other[0] = 'o';
    AddTrack("Intro", intro, 300000);
    AddTrack("Half", Content(1), Content(1).size() / 2);
    AddTrack("Twice", Content(2), Content(2).size() * 2);
    for (int i = 0; i < 12; ++i)
        AddTrack(QStringLiteral("Missing %1").arg(i), {});
    AddTrack("Here", "0123456789");
    // Another artist's "Intro" of the same size, and a copy cut to the stored size.
    WriteFile(Out.path() + "/Intro.mp3", other);
    WriteFile(Out.path() + "/Half.mp3", Content(1).left(Content(1).size() / 2));
    const QStringList files{"Half.mp3", "Half1.mp3", "Here.mp3", "Intro.mp3", "Intro1.mp3", "Twice.mp3"};
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(RunTransfer(true), 4);
        EXPECT_EQ(AllFiles(Out.path()), files);
        EXPECT_TRUE(ReadFile(Out.path() + "/Intro1.mp3") == intro &&
                    ReadFile(Out.path() + "/Half1.mp3") == Content(1) &&
                    ReadFile(Out.path() + "/Twice.mp3") == Content(2));
        EXPECT_EQ(Db->Tracks.GetItem(2).DestPath, Out.path() + "/Half1.mp3");
    }
    const QString log = app::DetailLog.Text();
    EXPECT_TRUE(log.contains("Missing 8.mp3") && !log.contains("Missing 9.mp3"));
    EXPECT_TRUE(log.contains("/Escape\r\nNot found (outside the device): :iTunes_Control:..:..:..:etc:hostname\r\n"));
    // Files that end before the size their information gives (they shrank after it was read)
    // or run past it are read errors and leave nothing.
    for (const auto& [delta, text] : {std::pair{"10", "ended before"}, {"-10", "is longer than"}}) {
        Sim(QByteArray("sizedelta ") + delta);
        EXPECT_EQ(RunTransfer(true), 0);
        EXPECT_EQ(AllFiles(Out.path()), files);
        EXPECT_TRUE(app::DetailLog.Text().contains(
            QStringLiteral("/Twice1.mp3\r\nRead error: the file %1 its size\r\n").arg(text)))
            << app::DetailLog.Text().toStdString();
    }
}

// Full-size photos through the link: a file holding a photo's bytes stands for it; one cut
// short keeps its name and the photo takes the next numbered one, as does a photo whose bytes
// this run wrote for another; runs again add nothing.
TEST_F(HandheldTransferTest, FullSizePhotosAreTakenForPresentOnlyWithTheirBytes) {
    device::TPhotoDb photos("D", true);
    std::tie(photos.HasFullRes, photos.OutputFolder) = std::tuple(1, Out.path() + "/");
    for (const char* folder : {"A", "B", "C"}) {
        device::TPhotoItem* p = photos.Photos.Add();
        std::tie(p->Selected, p->FullResName) = std::tuple(1, QStringLiteral(":DCIM:%1:IMG.JPG").arg(folder));
        Put("/var/mobile/Media/Photos/DCIM/" + QString(folder) + "/IMG.JPG", Content(*folder == 'C' ? 'A' : *folder));
    }
    WriteFile(Out.path() + "/IMG.JPG", Content('A').left(1 << 20)); // an interrupted copy
    for (int run = 0; run < 3; ++run) {
        app::DetailLog.Clear();
        transfer_test::RunTransfer({.PhotoCount = 3, .Handheld = true, .PhotoDestHasFiles = true}, {Db.get(), &photos});
        EXPECT_EQ(AllFiles(Out.path()), QStringList({"1_IMG.JPG", "2_IMG.JPG", "3_IMG.JPG", "IMG.JPG"}));
        EXPECT_TRUE(app::DetailLog.Text().endsWith("\r\nPhotos: 3/3\r\nTo iTunes: 0, 0"));
    }
    EXPECT_EQ(std::tuple(ReadFile(Out.path() + "/1_IMG.JPG"), ReadFile(Out.path() + "/2_IMG.JPG"),
                         ReadFile(Out.path() + "/3_IMG.JPG")),
              std::tuple(Content('A'), Content('B'), Content('A')));
}
