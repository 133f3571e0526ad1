// ipod-dump copy against a device tree written by the fixtures: the tool drives the same copy
// thread as the window.
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct DumpResult {
    int Exit = -1;
    QString Log;
    QJsonObject Summary;
};

DumpResult RunCopy(const QString& dev, const QString& out) {
    QProcess p;
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), {"copy", dev, out, "--layout", "1"});
    p.waitForFinished(120000);
    QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject summary = QJsonDocument::fromJson(lines.takeLast()).object();
    return {p.exitCode(), QString::fromUtf8(lines.join('\n')), summary};
}

TEST(TransferDump, DiskModeRunAndAStopThatIsNoSuccess) {
    QTemporaryDir dev, out, blocked;
    fixtures::DeviceTree tree{dev.path()};
    const fixtures::FixtureDb db = fixtures::SampleDb();
    tree.WriteTrackDb(fixtures::WriteTrackDb(db));
    tree.WriteMusicFiles(db, 5 << 20); // the 150 MB video stays missing
    const DumpResult r = RunCopy(dev.path(), out.path());
    ASSERT_EQ(r.Exit, 0) << r.Log.toStdString();
    const int n = int(db.Tracks.size());
    EXPECT_EQ(r.Summary["title"].toString(), "All done");
    EXPECT_TRUE(r.Log.startsWith("[iPod mode]\n"));
    EXPECT_TRUE(r.Log.endsWith(QStringLiteral("\nMusic: %1/%2\nPhotos: 0/0\nTo iTunes: 0, 0").arg(n - 1).arg(n)));
    EXPECT_TRUE(QFile::exists(out.path() + "/New Order/Substance/Blue Monday.mp3"));
    // A stage that stops is no success to a script.
    QFile(blocked.path() + "/New Order").open(QIODevice::WriteOnly);
    const DumpResult stopped = RunCopy(dev.path(), blocked.path());
    EXPECT_TRUE(stopped.Log.contains("[X] Stopped at: Blue Monday")) << stopped.Log.toStdString();
    EXPECT_EQ(stopped.Exit, 1);
}

} // namespace
