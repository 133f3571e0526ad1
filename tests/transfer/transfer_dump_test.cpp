// ipod-dump copy against a device tree written by the fixtures: the tool drives the same copy
// thread as the window.
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The tool's exit code and its output.
std::pair<int, QString> RunCopy(const QString& dev, const QString& out) {
    QProcess p;
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), {"copy", dev, out, "--layout", "1"});
    p.waitForFinished(120000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

TEST(TransferDump, DiskModeRunAndAStopThatIsNoSuccess) {
    QTemporaryDir dev, out, blocked;
    fixtures::DeviceTree tree{dev.path()};
    const fixtures::FixtureDb db = fixtures::SampleDb();
    tree.WriteTrackDb(fixtures::WriteTrackDb(db));
    tree.WriteMusicFiles(db, 5 << 20); // the 150 MB video stays missing
    const auto [exit, log] = RunCopy(dev.path(), out.path());
    EXPECT_EQ(exit, 0);
    EXPECT_TRUE(log.contains(QStringLiteral("\nMusic: %1/%2\nPhotos: 0/0\nTo iTunes: 0, 0\n")
                                 .arg(db.Tracks.size() - 1)
                                 .arg(db.Tracks.size())))
        << log.toStdString();
    // A stage that stops is no success to a script.
    QFile(blocked.path() + "/New Order").open(QIODevice::WriteOnly);
    const auto [stopExit, stopLog] = RunCopy(dev.path(), blocked.path());
    EXPECT_TRUE(stopLog.contains("[X] Stopped at: Blue Monday")) << stopLog.toStdString();
    EXPECT_EQ(stopExit, 1);
}

} // namespace
