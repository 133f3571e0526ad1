// ipod-dump copy against a device tree written by the fixtures: the tool drives the same copy
// thread as the window.
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/transfer/transfer_helpers.h"

#include <QProcess>

// The tool's exit code, its output and its messages.
static std::tuple<int, QString, QString> RunCopy(const QString& dev, const QString& out, const QStringList& more = {}) {
    QProcess p;
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), QStringList{"copy", dev, out, "--layout", "1", "--photos"} + more);
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST(TransferDump, RunsAgainIntoOneFolderAndExitsNonZeroWhenATrackIsNotWritten) {
    QTemporaryDir dev, out, blocked, scripts;
    fixtures::DeviceTree tree{dev.path()};
    fixtures::FixtureDb db = fixtures::SampleDb();
    for (fixtures::FixtureTrack& t : db.Tracks)
        t.Size = std::min<uint32_t>(t.Size, 1 << 20);
    tree.WriteMusicFiles(db);
    // Databases written by other programs often store sizes other than the files': here half
    // and twice theirs.
    for (size_t i = 0; i < db.Tracks.size(); ++i)
        db.Tracks[i].Size = i % 2 ? db.Tracks[i].Size * 2 : db.Tracks[i].Size / 2;
    tree.WriteTrackDb(fixtures::WriteTrackDb(db));
    fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1024, 1036, 6, false, 3), false);
    const auto [exit, log, err] = RunCopy(dev.path(), out.path());
    EXPECT_TRUE(log.startsWith(
        QStringLiteral("[iPod mode]\n\nPhotos\n\nMusic: %1/%1\nPhotos: 6/6\nTo iTunes: 0, 0\n").arg(db.Tracks.size())))
        << log.toStdString();
    // Again into the same folder: every file present stands for its track or photo, none is
    // copied again.
    const QStringList files = transfer_test::AllFiles(out.path());
    EXPECT_EQ(RunCopy(dev.path(), out.path()), std::tuple(0, log, err));
    EXPECT_EQ(transfer_test::AllFiles(out.path()), files);
    // An iTunes stage that ends in its error block is no success; a layout outside 0 to 6 is a
    // wrong argument, not the first layout.
    const QString script = scripts.filePath("itunes.json");
    for (const auto& [failures, code, summary] :
         {std::tuple{"[]", 0, "To iTunes: -1, 0\n"},
          {R"([{"op": "CreateApplication", "message": "boom"}])", 1, "To iTunes: -1, -1\n"}}) {
        transfer_test::WriteFile(script, QByteArray(R"({"failures": )") + failures + "}");
        const auto [itunesExit, itunesLog, itunesErr] = RunCopy(dev.path(), out.path(), {"--itunes", script});
        EXPECT_TRUE(itunesExit == code && itunesLog.contains(summary)) << (itunesErr + itunesLog).toStdString();
    }
    for (const char* layout : {"7", "-1"}) {
        const auto [layoutExit, layoutLog, layoutErr] = RunCopy(dev.path(), out.path(), {"--layout", layout});
        EXPECT_TRUE(layoutExit == 2 && layoutErr.startsWith("ipod-dump: --layout takes a number from 0 to 6\n"))
            << layoutErr.toStdString();
    }

    // A stage that stops, a cut track database, a track missing and a folder that cannot be made
    // are no success.
    QFile(blocked.path() + "/New Order").open(QIODevice::WriteOnly);
    const auto [stopExit, stopLog, stopErr] = RunCopy(dev.path(), blocked.path());
    EXPECT_TRUE(stopExit == 1 && stopLog.contains("[X] Stopped at: Blue Monday")) << stopLog.toStdString();
    const QByteArray whole = fixtures::WriteTrackDb(db);
    tree.WriteTrackDb(whole.left(whole.size() / 2)); // cut: what was read is copied, the rest is not
    EXPECT_EQ(std::get<0>(RunCopy(dev.path(), out.path() + "/cut")), 1);
    tree.WriteTrackDb(whole);
    QFile::remove(tree.Path(fixtures::DeviceTree::LocationPath(db.Tracks[0].Location)));
    EXPECT_EQ(std::get<0>(RunCopy(dev.path(), out.path() + "/again")), 1);
    EXPECT_EQ(
        RunCopy(dev.path(), blocked.path() + "/New Order/in"),
        std::tuple(1, QString(),
                   "ipod-dump: Can not create the folder to save the music.\n" + blocked.path() + "/New Order/in/\n"));
}
