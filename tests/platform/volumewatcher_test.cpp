#include "platform/Drives.h"
#include "platform/VolumeWatcher.h"

#include <QEventLoop>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace platform;

namespace {

constexpr quint32 E = 1u << 4, F = 1u << 5, G = 1u << 6;
using Reports = std::vector<std::pair<quint32, quint32>>;

// Sets the drive table: C: and removable volumes given as "E:/media/a".
void Volumes(std::initializer_list<const char*> removable) {
    std::vector<Drive> drives{{'C', QStringLiteral("/"), DriveFixed, QString()}};
    for (const char* v : removable)
        drives.push_back({v[0], QString::fromLatin1(v + 2), DriveRemovable, QString()});
    SetDriveTableForTesting(drives);
}

// The watcher's reports as (code, mask) pairs, after a look or after the event loop ran until
// one arrived.
struct Spy {
    VolumeWatcher Watcher;
    Reports Events;
    QEventLoop Loop;
    Spy() {
        QObject::connect(&Watcher, &VolumeWatcher::DeviceChange, [this](quint32 code, quint32 mask) {
            Events.emplace_back(code, mask);
            Loop.quit();
        });
        Watcher.Start();
    }
    Reports Look() {
        Watcher.CheckNow();
        return std::exchange(Events, {});
    }
    Reports Wait() {
        QTimer::singleShot(20000, &Loop, &QEventLoop::quit);
        if (Events.empty()) Loop.exec();
        return std::exchange(Events, {});
    }
};

} // namespace

TEST(VolumeWatcher, ReportsArrivalsAndRemovalsAsUnitMasks) {
    Volumes({"E:/media/a"});
    Spy spy;
    EXPECT_TRUE(spy.Look().empty()); // volumes present at the start raise nothing
    EXPECT_EQ(spy.Watcher.CurrentMask(), (1u << 2) | E);
    // two volumes in one look come as one arrival with both bits
    Volumes({"E:/media/a", "F:/media/b", "G:/media/c"});
    EXPECT_EQ(spy.Look(), (Reports{{DBT_DEVICEARRIVAL, F | G}}));
    EXPECT_EQ(spy.Watcher.CurrentMask(), (1u << 2) | E | F | G);
    EXPECT_TRUE(spy.Look().empty());
    Volumes({"F:/media/b", "G:/media/c"});
    EXPECT_EQ(spy.Look(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E}}));
    // A letter that changes folder leaves, then arrives.
    Volumes({"E:/media/new"});
    EXPECT_EQ(spy.Look(), (Reports{{DBT_DEVICEREMOVECOMPLETE, F | G}, {DBT_DEVICEARRIVAL, E}}));
}

// The demo and the window tests make volumes come and go by rewriting the drive file.
TEST(VolumeWatcher, FollowsTheDriveFileWhenItIsReplaced) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("drives"));
    auto write = [&](const QByteArray& text) {
        QSaveFile f(path); // written beside and renamed over, as scripts do
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        ASSERT_TRUE(f.commit());
    };
    write("C: / fixed\n");
    const QByteArray before = qgetenv("MARROWGATE_DRIVES");
    qputenv("MARROWGATE_DRIVES", path.toLocal8Bit());
    Spy spy;
    write("C: / fixed\nE: " + dir.path().toLocal8Bit() + " removable\n");
    EXPECT_EQ(spy.Wait(), (Reports{{DBT_DEVICEARRIVAL, E}}));
    // a second change after the rename is still seen
    write("C: / fixed\n");
    EXPECT_EQ(spy.Wait(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E}}));
    qputenv("MARROWGATE_DRIVES", before);
}
