// The ipod-dump photo and artwork commands on fixture devices, disk mode and handheld.
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fixtures;

namespace {

std::vector<QJsonObject> RunDump(const QStringList& args) {
    const QString tool = QStringLiteral(MG_BIN_DIR "/ipod-dump");
    QProcess p;
    p.start(tool, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    std::vector<QJsonObject> lines;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            lines.push_back(QJsonDocument::fromJson(line).object());
    return lines;
}

class DumpPhotos : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!QFile::exists(QStringLiteral(MG_BIN_DIR "/ipod-dump")))
            GTEST_SKIP() << "ipod-dump not built";
    }
    // A phone's media root is where its track database is.
    DeviceTree Device(bool handheld) {
        DeviceTree tree(Dir.path() + "/dev");
        if (handheld)
            tree.WriteFile(QStringLiteral("var/mobile/Media/iTunes_Control/iTunes/iTunesDB"), "x");
        return tree;
    }
    QTemporaryDir Dir;
};

} // namespace

TEST_P(DumpPhotos, PhotosAndExport) {
    const bool handheld = GetParam();
    const DeviceTree tree = Device(handheld);
    WritePhotoSet(tree, MakePhotoSet(1024, 1036, 4, handheld, 3), handheld);
    QStringList extra;
    if (handheld)
        extra << "--handheld";
    const auto lines = RunDump(QStringList{"photos", tree.Root()} + extra);
    ASSERT_EQ(lines.size(), 4u + 2 + 1);
    EXPECT_EQ(lines[3].value("imageid").toInt(), 103);
    EXPECT_EQ(lines[3].value("fileno").toInt(), 2);
    EXPECT_EQ(lines[3].value("largesize").toInt(), 153600);
    EXPECT_TRUE(lines[3].contains("smalloffset") && lines[3].contains("fullres") && lines[3].contains("largeoffset"));
    EXPECT_EQ(lines[5].value("album").toString(), "First");
    const QJsonObject result = lines.back();
    EXPECT_TRUE(result.value("result").toBool());
    EXPECT_EQ(result.value("error").toInt(), 0);
    EXPECT_FALSE(result.value("hasfullres").toBool());
    EXPECT_EQ(result.value("large").toObject().value("filecount").toInt(), 2);
    EXPECT_EQ(result.value("small").toObject().value("width").toInt(), 50);

    const QString out = Dir.path() + "/out";
    const auto exported = RunDump(QStringList{"export-photos", tree.Root(), out} + extra);
    ASSERT_EQ(exported.size(), 1u);
    EXPECT_EQ(exported[0].value("count").toInt(), 4);
    EXPECT_EQ(exported[0].value("log").toString(), "");
    EXPECT_EQ(QImage(out + "/102.jpg").size(), QSize(320, 240));
}

TEST_P(DumpPhotos, ArtworkAndExport) {
    const bool handheld = GetParam();
    const DeviceTree tree = Device(handheld);
    WriteArtSet(tree, MakeArtSet(1060, handheld ? 3006 : 1055, 3, handheld, 2), handheld);
    QStringList extra;
    if (handheld)
        extra << "--handheld";
    const auto lines = RunDump(QStringList{"artwork", tree.Root()} + extra);
    ASSERT_EQ(lines.size(), 3u + 1);
    EXPECT_EQ(lines[2].value("songdbid").toString(), QString::number(0x1000000002ull));
    EXPECT_EQ(lines[2].value("largefileno").toInt(), 2);
    const QJsonObject result = lines.back();
    EXPECT_TRUE(result.value("result").toBool());
    EXPECT_EQ(result.value("large").toObject().value("id").toInt(), 1060);
    EXPECT_EQ(result.value("small").toObject().value("id").toInt(), handheld ? 3006 : 1055);
    EXPECT_EQ(result.value("small").toObject().value("size").toInt(), handheld ? 6160 : 32768);

    const QString out = Dir.path() + "/art";
    const auto exported = RunDump(QStringList{"export-art", tree.Root(), out} + extra);
    ASSERT_EQ(exported.size(), 1u);
    EXPECT_EQ(exported[0].value("count").toInt(), 3);
    EXPECT_EQ(QDir(out).entryList(QDir::Files), (QStringList{"0.bmp", "1.bmp", "2.bmp"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DumpPhotos, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Handheld" : "Disk"; });
