#include "platform/Drives.h"
#include "platform/VolumeWatcher.h"

#include <QEventLoop>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace platform;

namespace {

Drive Removable(char letter, const char* mount) {
    return Drive{letter, QString::fromLatin1(mount), DriveRemovable, QString()};
}

const Drive kSystem{'C', QStringLiteral("/"), DriveFixed, QString()};
constexpr quint32 E = 1u << 4, F = 1u << 5, G = 1u << 6;

// The watcher's reports as "code:mask" pairs; Wait() runs the event loop until one arrives.
struct Spy {
    std::vector<std::pair<quint32, quint32>> Events;
    QEventLoop* Loop = nullptr;
    explicit Spy(VolumeWatcher* w) {
        QObject::connect(w, &VolumeWatcher::DeviceChange, [this](quint32 code, quint32 mask) {
            Events.emplace_back(code, mask);
            if (Loop) Loop->quit();
        });
    }
    bool Wait(int ms) {
        if (!Events.empty()) return true;
        QEventLoop l;
        Loop = &l;
        QTimer::singleShot(ms, &l, &QEventLoop::quit);
        l.exec();
        Loop = nullptr;
        return !Events.empty();
    }
    decltype(Events) Take() { return std::exchange(Events, {}); }
};

using Reports = std::vector<std::pair<quint32, quint32>>;

} // namespace

TEST(VolumeWatcher, ReportsArrivalsAndRemovalsAsUnitMasks) {
    SetDriveTableForTesting({{kSystem, Removable('E', "/media/a")}});
    VolumeWatcher w;
    Spy spy(&w);
    w.CheckNow(); // the first look sets the baseline without Start
    spy.Take();

    // two volumes in one look come as one arrival with both bits
    SetDriveTableForTesting(
        {{kSystem, Removable('E', "/media/a"), Removable('F', "/media/b"), Removable('G', "/media/c")}});
    w.CheckNow();
    EXPECT_EQ(spy.Take(), (Reports{{DBT_DEVICEARRIVAL, F | G}}));
    EXPECT_EQ(w.CurrentMask(), (1u << 2) | E | F | G);

    // nothing changed: nothing reported
    w.CheckNow();
    EXPECT_TRUE(spy.Take().empty());

    SetDriveTableForTesting({{kSystem, Removable('F', "/media/b"), Removable('G', "/media/c")}});
    w.CheckNow();
    EXPECT_EQ(spy.Take(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E}}));
}

TEST(VolumeWatcher, ALetterThatChangesFolderLeavesThenArrives) {
    SetDriveTableForTesting({{kSystem, Removable('E', "/media/old"), Removable('F', "/media/f")}});
    VolumeWatcher w;
    w.Start();
    Spy spy(&w);
    SetDriveTableForTesting({{kSystem, Removable('E', "/media/new")}});
    w.CheckNow();
    w.Stop();
    EXPECT_EQ(spy.Take(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E | F}, {DBT_DEVICEARRIVAL, E}}));
}

TEST(VolumeWatcher, VolumesPresentAtStartRaiseNothing) {
    SetDriveTableForTesting({{kSystem, Removable('E', "/media/a")}});
    VolumeWatcher w;
    Spy spy(&w);
    w.Start();
    w.CheckNow();
    EXPECT_TRUE(spy.Take().empty());
    EXPECT_EQ(w.CurrentMask(), (1u << 2) | E);
}

// The demo and the window tests make volumes come and go by rewriting the drive file.
TEST(VolumeWatcher, FollowsTheDriveFileWhenItIsReplaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
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

    VolumeWatcher w;
    w.Start();
    Spy spy(&w);
    write("C: / fixed\nE: " + dir.path().toLocal8Bit() + " removable\n");
    ASSERT_TRUE(spy.Wait(20000));
    EXPECT_EQ(spy.Take(), (Reports{{DBT_DEVICEARRIVAL, E}}));

    // a second change after the rename is still seen
    write("C: / fixed\n");
    ASSERT_TRUE(spy.Wait(20000));
    EXPECT_EQ(spy.Take(), (Reports{{DBT_DEVICEREMOVECOMPLETE, E}}));
    w.Stop();
    qputenv("MARROWGATE_DRIVES", before);
}
