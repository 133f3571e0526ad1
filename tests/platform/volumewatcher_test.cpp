#include "platform/Drives.h"
#include "platform/VolumeWatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// The file watch needs an event loop; this binary has no application of its own.
void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "tests_platform";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv); // lives for the whole run
}

struct TableGuard {
    ~TableGuard() { SetDriveTableForTesting(std::nullopt); }
};

void SetTable(std::vector<Drive> table) {
    SetDriveTableForTesting(std::move(table));
}

Drive Removable(char letter, const QString& mount) {
    return Drive{letter, mount, DriveRemovable, QString()};
}

const Drive kSystem{'C', QStringLiteral("/"), DriveFixed, QString()};

struct Event {
    quint32 code;
    quint32 mask;
};

// Records the watcher's reports; wait() runs the event loop until one arrives.
struct Spy {
    std::vector<Event> events;
    QEventLoop* loop = nullptr;
    explicit Spy(VolumeWatcher* w) {
        QObject::connect(w, &VolumeWatcher::DeviceChange, [this](quint32 code, quint32 mask) {
            events.push_back({code, mask});
            if (loop) loop->quit();
        });
    }
    bool wait(int ms) {
        if (!events.empty()) return true;
        QEventLoop l;
        loop = &l;
        QTimer::singleShot(ms, &l, &QEventLoop::quit);
        l.exec();
        loop = nullptr;
        return !events.empty();
    }
};

std::vector<Event> Take(Spy& spy) {
    std::vector<Event> out;
    out.swap(spy.events);
    return out;
}

constexpr quint32 E = 1u << 4, F = 1u << 5, G = 1u << 6;

} // namespace

TEST(VolumeWatcher, ReportsArrivalsAndRemovalsAsUnitMasks) {
    EnsureApplication();
    TableGuard guard;
    SetTable({kSystem, Removable('E', QStringLiteral("/media/a"))});
    VolumeWatcher w;
    Spy spy(&w);
    w.CheckNow(); // the first look sets the baseline without Start
    Take(spy);

    // two volumes in one look come as one arrival with both bits
    SetTable({kSystem, Removable('E', QStringLiteral("/media/a")), Removable('F', QStringLiteral("/media/b")),
              Removable('G', QStringLiteral("/media/c"))});
    w.CheckNow();
    auto events = Take(spy);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, DBT_DEVICEARRIVAL);
    EXPECT_EQ(events[0].mask, F | G);
    EXPECT_EQ(w.CurrentMask(), (1u << 2) | E | F | G);

    // nothing changed: nothing reported
    w.CheckNow();
    EXPECT_TRUE(Take(spy).empty());

    SetTable(
        {kSystem, Removable('F', QStringLiteral("/media/b")), Removable('G', QStringLiteral("/media/c"))});
    w.CheckNow();
    events = Take(spy);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(events[0].mask, E);
}

TEST(VolumeWatcher, ALetterThatChangesFolderLeavesThenArrives) {
    EnsureApplication();
    TableGuard guard;
    SetTable(
        {kSystem, Removable('E', QStringLiteral("/media/old")), Removable('F', QStringLiteral("/media/f"))});
    VolumeWatcher w;
    w.Start();
    Spy spy(&w);
    SetTable({kSystem, Removable('E', QStringLiteral("/media/new"))});
    w.CheckNow();
    w.Stop();
    const auto events = Take(spy);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].code, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(events[0].mask, E | F);
    EXPECT_EQ(events[1].code, DBT_DEVICEARRIVAL);
    EXPECT_EQ(events[1].mask, E);
}

TEST(VolumeWatcher, VolumesPresentAtStartRaiseNothing) {
    EnsureApplication();
    TableGuard guard;
    SetTable({kSystem, Removable('E', QStringLiteral("/media/a"))});
    VolumeWatcher w;
    Spy spy(&w);
    w.Start();
    w.CheckNow();
    EXPECT_TRUE(Take(spy).empty());
    EXPECT_EQ(w.CurrentMask(), (1u << 2) | E);
}

// The demo and the window tests make volumes come and go by rewriting the drive file.
TEST(VolumeWatcher, FollowsTheDriveFileWhenItIsReplaced) {
    EnsureApplication();
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
    ASSERT_TRUE(spy.wait(20000));
    auto events = Take(spy);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, DBT_DEVICEARRIVAL);
    EXPECT_EQ(events[0].mask, E);

    // a second change after the rename is still seen
    write("C: / fixed\n");
    ASSERT_TRUE(spy.wait(20000));
    events = Take(spy);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(events[0].mask, E);
    w.Stop();

    if (before.isEmpty())
        qunsetenv("MARROWGATE_DRIVES");
    else
        qputenv("MARROWGATE_DRIVES", before);
}
