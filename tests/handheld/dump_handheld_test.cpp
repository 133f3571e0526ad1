// ipod-dump tracks ROOT --handheld: ROOT served as a simulated phone and read through the link,
// run from folders other than the program's own, with a relative ROOT.
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

namespace {

// The exit code and the JSON lines of a run; ends the test when the run does not finish.
std::vector<QJsonObject> DumpTracks(const QString& workingFolder, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(workingFolder);
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"),
            QStringList{"tracks"} + args + QStringList{"--handheld"});
    std::vector<QJsonObject> lines;
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) lines.push_back(QJsonDocument::fromJson(line).object());
    return lines;
}

TEST(DumpHandheld, TracksThroughTheSimulatedPhoneFromAnyFolder) {
#if defined(__SANITIZE_THREAD__)
    // QProcess starts its child in a way the thread checker cannot follow; after it, the
    // checker reports races inside correctly locked code of later tests.
    GTEST_SKIP() << "starts a process";
#endif
    ASSERT_TRUE(QFileInfo::exists(QStringLiteral(MG_BIN_DIR "/ipod-dump")))
        << "build ipod-dump with the tests";
    QTemporaryDir dir;
    const QByteArray plain = fixtures::WriteTrackDb(fixtures::SampleDb());
    fixtures::DeviceTree(dir.path() + "/cdb").WriteHandheldTrackDb(plain, true);
    fixtures::DeviceTree(dir.path() + "/db").WriteHandheldTrackDb(plain, false);
    // A copy of some other library in the caller's folder does not take the simulated one's place.
    fixtures::DeviceTree(dir.path() + "/work").WriteFile("iTunesMobileDevice.dll", "not a library");
    for (const QString& root : {QStringLiteral("../cdb"), QStringLiteral("../db")}) {
        SCOPED_TRACE(root.toStdString());
        const auto lines = DumpTracks(dir.path() + "/work", {root});
        ASSERT_EQ(lines.size(), 5u + 3u + 1u);
        EXPECT_EQ(lines[1].value("title").toString(), QString::fromUtf8("Ça plane pour moi – 日本"));
        EXPECT_EQ(lines[6].value("playlist").toString(), QStringLiteral("Favourites"));
        EXPECT_TRUE(lines.back().value("result").toBool());
        EXPECT_EQ(lines.back().value("tracks").toInt(), 5);
    }
    // Without a database on the phone the load fails and says so.
    const fixtures::DeviceTree empty(dir.path() + "/empty");
    empty.MakeFolder(QStringLiteral("var/mobile/Media"));
    const auto none = DumpTracks(dir.path(), {empty.Root(), QStringLiteral("--summary")});
    ASSERT_EQ(none.size(), 1u);
    EXPECT_FALSE(none[0].value("result").toBool());
    EXPECT_EQ(none[0].value("tracks").toInt(), 0);
}

} // namespace
