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

// The keys of one printed line, in the order printed (nested objects as "key.inner").
QStringList KeysInOrder(const QByteArray& line) {
    QStringList keys;
    QStringList outer;
    int depth = 0;
    bool inString = false, isKey = false;
    QByteArray current;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
                if (isKey && i + 1 < line.size() && line[i + 1] == ':') {
                    keys << (outer.isEmpty() ? QString() : outer.last() + ".") + QString::fromUtf8(current);
                }
            } else {
                current += c;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            isKey = true;
            current.clear();
        } else if (c == '{') {
            if (depth > 0)
                outer << keys.last();
            ++depth;
        } else if (c == '}') {
            if (--depth > 0)
                outer.removeLast();
        }
    }
    return keys;
}

QList<QByteArray> RawLines;

std::vector<QJsonObject> RunDump(const QStringList& args) {
    const QString tool = QStringLiteral(MG_BIN_DIR "/ipod-dump");
    QProcess p;
    p.start(tool, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    std::vector<QJsonObject> lines;
    RawLines.clear();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty()) {
            RawLines << line;
            lines.push_back(QJsonDocument::fromJson(line).object());
        }
    }
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
    const QStringList format{"id", "size", "width", "height", "filecount"};
    auto nested = [&](const QString& outer) {
        QStringList keys{outer};
        for (const QString& k : format)
            keys << outer + "." + k;
        return keys;
    };
    EXPECT_EQ(KeysInOrder(RawLines[0]),
              (QStringList{"index", "imageid", "fileno", "largeoffset", "largesize", "smalloffset", "fullres"}));
    EXPECT_EQ(KeysInOrder(RawLines[4]), (QStringList{"album", "ids"}));
    EXPECT_EQ(KeysInOrder(RawLines.last()),
              (QStringList{"result", "error", "hasfullres"} + nested("large") + nested("small")));
    const QJsonObject result = lines.back();
    EXPECT_TRUE(result.value("result").toBool());
    EXPECT_EQ(result.value("error").toInt(), 0);
    EXPECT_FALSE(result.value("hasfullres").toBool());
    EXPECT_EQ(result.value("large").toObject().value("filecount").toInt(), 2);
    EXPECT_EQ(result.value("small").toObject().value("width").toInt(), 50);

    const QString out = Dir.path() + "/out";
    const auto exported = RunDump(QStringList{"export-photos", tree.Root(), out} + extra);
    ASSERT_EQ(exported.size(), 1u);
    EXPECT_EQ(KeysInOrder(RawLines[0]), (QStringList{"missing", "log", "count"}));
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
    EXPECT_EQ(KeysInOrder(RawLines[0]), (QStringList{"index", "imageid", "songdbid", "smallfileno", "smalloffset",
                                                     "largefileno", "largeoffset"}));
    QStringList resultKeys{"result", "error", "large"};
    for (const QString& outer : {QString("large"), QString("small")}) {
        if (outer == "small")
            resultKeys << "small";
        for (const char* k : {"id", "size", "width", "height", "filecount"})
            resultKeys << outer + "." + k;
    }
    EXPECT_EQ(KeysInOrder(RawLines.last()), resultKeys);
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
