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

struct DumpRun {
    int Exit = -1;
    QByteArray Err;
    std::vector<QJsonObject> Lines;
};

DumpRun DumpTracks(const QString& workingFolder, const QStringList& args) {
    DumpRun r;
    QProcess p;
    p.setWorkingDirectory(workingFolder);
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), QStringList{QStringLiteral("tracks")} + args);
    if (!p.waitForFinished(60000)) return r;
    r.Exit = p.exitCode();
    r.Err = p.readAllStandardError();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) r.Lines.push_back(QJsonDocument::fromJson(line).object());
    return r;
}

TEST(DumpHandheld, TracksThroughTheSimulatedPhoneFromAnyFolder) {
#if defined(__SANITIZE_THREAD__)
    // QProcess starts its child in a way the thread checker cannot follow; after it, the
    // checker reports races inside correctly locked code of later tests.
    GTEST_SKIP() << "starts a process";
#endif
    ASSERT_TRUE(QFileInfo::exists(QStringLiteral(MG_BIN_DIR "/ipod-dump"))) << "build ipod-dump with the tests";
    QTemporaryDir dir;
    const QByteArray plain = fixtures::WriteTrackDb(fixtures::SampleDb());
    const fixtures::DeviceTree compressed(dir.path() + "/cdb"), plainOnly(dir.path() + "/db");
    compressed.WriteHandheldTrackDb(plain, true);
    plainOnly.WriteHandheldTrackDb(plain, false);
    // A copy of some other library in the caller's folder does not take the simulated one's place.
    QDir().mkpath(dir.path() + "/work");
    QFile junk(dir.path() + "/work/iTunesMobileDevice.dll");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a library");
    junk.close();

    for (const QString& root : {QStringLiteral("../cdb"), QStringLiteral("../db")}) {
        const DumpRun r = DumpTracks(dir.path() + "/work", {root, QStringLiteral("--handheld")});
        ASSERT_EQ(r.Exit, 0) << root.toStdString() << ": " << r.Err.constData();
        ASSERT_EQ(r.Lines.size(), 5u + 3u + 1u) << root.toStdString();
        EXPECT_EQ(r.Lines[1].value("title").toString(), QString::fromUtf8("Ça plane pour moi – 日本"));
        EXPECT_EQ(r.Lines[6].value("playlist").toString(), QStringLiteral("Favourites"));
        const QJsonObject& last = r.Lines.back();
        EXPECT_TRUE(last.value("result").toBool());
        EXPECT_EQ(last.value("tracks").toInt(), 5);
    }

    // Without a database on the phone the load fails and says so.
    const fixtures::DeviceTree empty(dir.path() + "/empty");
    empty.MakeFolder(QStringLiteral("var/mobile/Media"));
    const DumpRun none = DumpTracks(dir.path(), {empty.Root(), QStringLiteral("--handheld"), QStringLiteral("--summary")});
    ASSERT_EQ(none.Exit, 0) << none.Err.constData();
    ASSERT_EQ(none.Lines.size(), 1u);
    EXPECT_FALSE(none.Lines[0].value("result").toBool());
    EXPECT_EQ(none.Lines[0].value("tracks").toInt(), 0);
}

} // namespace
