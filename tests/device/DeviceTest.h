#pragma once
// Set-up shared by the device tests: a fixture device mapped as drive E:, the colour check of
// pictures drawn by the fixtures, tag patching, and runs of the ipod-dump tool.
#include "device/PhotoDb.h"
#include "platform/Drives.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/ThumbWriter.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace devtest {

// A fresh device folder mapped as drive E: and an empty output folder.
class MappedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{Tree.AsDrive('E')});
        QDir().mkpath(Out);
    }
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }
    QStringList Files() const { return QDir(Out).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QByteArray Read(const QString& name) const { return fixtures::DeviceTree(Out).ReadFile(name); }

    // The set written to the device and loaded, every photo marked, into an empty output folder.
    std::unique_ptr<device::TPhotoDb> LoadPhotos(const fixtures::PhotoSet& set) {
        QDir(Out).removeRecursively();
        QDir().mkpath(Out);
        Progress = 0;
        WritePhotoSet(Tree, set, false);
        auto db = std::make_unique<device::TPhotoDb>("E:", false);
        EXPECT_TRUE(db->Load(false));
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.GetItem(i)->Selected = 1;
        db->OutputFolder = Out;
        db->OnProgress = [this] { ++Progress; };
        return db;
    }

    QTemporaryDir Dir;
    fixtures::DeviceTree Tree{Dir.path() + "/ipod"};
    QString Out = Dir.path() + "/out/";
    int Progress = 0;
};

// The picture shows the four quadrant colours of picture `seed`.
inline void ExpectQuadrants(const QImage& image, int seed, int tolerance) {
    ASSERT_FALSE(image.isNull());
    for (int q = 0; q < 4; ++q) {
        const QRgb want = fixtures::QuadrantColour(seed, q).rgb();
        const QRgb got = image.pixel((1 + q % 2 * 2) * image.width() / 4, (1 + q / 2 * 2) * image.height() / 4);
        for (const int shift : {0, 8, 16})
            EXPECT_LE(std::abs(int(got >> shift & 0xFF) - int(want >> shift & 0xFF)), tolerance) << q << " " << seed;
    }
}

// A tag of a good image database overwritten at its n-th occurrence: what the load says and how
// many items it keeps.
using TagDamage = std::tuple<const char*, int, bool, uint32_t, int>;

// `good` with `n` more sections before its own that all reach the items of its first image list:
// through that list, or (`ownLists`) each through an image list of its own.
inline QByteArray ListsOverOneSetOfItems(const QByteArray& good, int n, bool ownLists) {
    const device::ByteView v(good);
    const qint64 root = v.U32(4), list = good.indexOf("mhli"), step = ownLists ? 28 : 16;
    const qint64 items = list + v.U32(list + 4) + n * step; // where the items lie afterwards
    QByteArray extra;
    for (qint64 at = root; at < root + n * step; at += step) {
        const qint64 to = ownLists ? at + 16 : list + n * step;
        extra += fixtures::Patched(QByteArray("mhsd").append(12, '\0'),
                                   {{4, uint64_t(to - at)}, {8, uint64_t(step)}, {12, 1}});
        if (ownLists)
            extra += fixtures::Patched(QByteArray("mhli").append(8, '\0'),
                                       {{4, uint64_t(items - to)}, {8, v.U32(list + 8)}});
    }
    return fixtures::Patched(QByteArray(good).insert(root, extra), {{20, v.U32(20) + n}});
}

// Runs the cases, then every cut of the file, which keeps at most `most` items. Then many
// sections over one list cost no more than its walk: the list pointed at again is not walked
// again, and once the walks have covered twice the file no list takes more items.
template <class Db, class Cases, class Count>
void ExpectDamage(const QByteArray& good, const Cases& cases, int most, const Count& count) {
    for (const auto& [tag, n, loads, code, items] : cases) {
        qsizetype at = -1;
        for (int i = 0; i <= n; ++i)
            at = good.indexOf(tag, at + 1);
        ASSERT_GE(at, 0) << tag << n;
        Db db("E:", false);
        EXPECT_EQ(db.LoadFromData(QByteArray(good).replace(at, 4, "xxxx")), loads) << tag << n;
        EXPECT_EQ(std::pair(db.ErrorCode, count(db)), std::pair(code, items)) << tag << n;
    }
    for (qsizetype n = 0; n < good.size(); n += 5) {
        Db db("E:", false);
        db.LoadFromData(good.left(n));
        EXPECT_LE(count(db), most) << n;
    }
    Db sound("E:", false), again("E:", false), own("E:", false);
    ASSERT_TRUE(sound.LoadFromData(good));
    EXPECT_TRUE(again.LoadFromData(ListsOverOneSetOfItems(good, 1000, false)));
    own.LoadFromData(ListsOverOneSetOfItems(good, 1000, true));
    EXPECT_EQ(std::pair(count(again), count(own) < count(sound)), std::pair(count(sound), true));
}

// The ipod-dump tool's exit code and output lines.
inline std::pair<int, QList<QByteArray>> RunDump(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    lines.removeAll(QByteArray());
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, lines};
}

// The value of `key` in one printed line.
inline QJsonValue Value(const QByteArray& line, const char* key) {
    return QJsonDocument::fromJson(line)[QLatin1String(key)];
}

// The keys of one printed line in the order printed, nested ones too.
inline QStringList KeysInOrder(const QByteArray& line) {
    static const QRegularExpression key(QStringLiteral(R"re("((?:[^"\\]|\\.)*)":)re"));
    QStringList keys;
    for (auto it = key.globalMatch(QString::fromUtf8(line)); it.hasNext();)
        keys << it.next().captured(1);
    return keys;
}

} // namespace devtest
