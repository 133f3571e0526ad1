#include "platform/OpenBeneath.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SafeWrite.h"
#include "tests/fixtures/DeviceTree.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

// Both ways of opening: the kernel's openat2 and the walk that stands in without it.
class OpenBeneathTest : public ::testing::TestWithParam<bool> {
protected:
    void TearDown() override { platform::UseOpenBeneathWalkForTesting(false); }
    QTemporaryDir Temp;
};

TEST_P(OpenBeneathTest, OpensRegularFilesBeneathTheRootOnly) {
    platform::UseOpenBeneathWalkForTesting(GetParam());
    const QString root = Temp.path() + "/dev";
    auto native = [&](const QString& path) { return QFile::encodeName(Temp.path() + path); };
    ASSERT_TRUE(QDir().mkpath(root + "/a") && QDir().mkpath(Temp.path() + "/home"));
    ASSERT_TRUE(platform::WriteFileSafely(root + "/a/file", "inside") &&
                platform::WriteFileSafely(Temp.path() + "/home/secret", "outside"));
    ASSERT_EQ(::symlink("../../home/secret", native("/dev/a/link").constData()) |
                  ::symlink(native("/home").constData(), native("/dev/folder").constData()) |
                  ::mkfifo(native("/dev/a/fifo").constData(), 0644),
              0);
    ASSERT_TRUE(fixtures::MakeSocket(root + "/a/sock"));
    const std::pair<const char*, int> cases[] = {
        {"a/file", 0},      {"/a//./file", 0},     {"a/link", ENOENT},         {"folder/secret", ENOENT},
        {"a/fifo", ENOENT}, {"a", ENOENT},         {"../home/secret", ENOENT}, {"a/missing", ENOENT},
        {"b/file", ENOENT}, {"a/file/x", ENOTDIR}, {"a/sock", ENOENT},
    };
    for (const auto& [relative, error] : cases) {
        errno = 0;
        const int fd = platform::OpenBeneath(root, QString::fromLatin1(relative));
        char bytes[16] = {};
        EXPECT_EQ(fd >= 0 ? ::read(fd, bytes, sizeof bytes) : -errno, error ? -error : 6) << relative; // blocking again
        if (fd >= 0)
            ::close(fd);
    }
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'E', root, platform::DriveRemovable, {}}});
    EXPECT_EQ(platform::OpenReadOnly("E:/a/file")->readAll(), "inside");
    EXPECT_THROW(platform::OpenReadOnly("E:/a/link"), platform::EFOpenError);
    EXPECT_THROW(platform::OpenReadWrite("E:/folder/secret"), platform::EFOpenError);
    EXPECT_THROW(platform::OpenReadOnly("E:/a/fifo"), platform::EFOpenError);
    EXPECT_FALSE(platform::FileExists("E:/a/link") || platform::FileExists("E:/a/fifo"));
}

INSTANTIATE_TEST_SUITE_P(Ways, OpenBeneathTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Walk" : "Openat2"; });
