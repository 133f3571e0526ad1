#include "platform/OpenBeneath.h"

#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Both ways of opening: the kernel's openat2 and the walk that stands in without it.
class OpenBeneathTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        platform::UseOpenBeneathWalkForTesting(GetParam());
        Root = Temp.path() + "/dev";
        QDir().mkpath(Root + "/a");
        QDir().mkpath(Temp.path() + "/home");
        Write(Root + "/a/file", "inside");
        Write(Temp.path() + "/home/secret", "outside");
        Link("../../home/secret", Root + "/a/link");
        Link(Temp.path() + "/home", Root + "/folder");
        ::mkfifo(QFile::encodeName(Root + "/a/fifo").constData(), 0644);
    }
    void TearDown() override { platform::UseOpenBeneathWalkForTesting(false); }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    static void Link(const QString& target, const QString& at) {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
    }
    QTemporaryDir Temp;
    QString Root;
};

TEST_P(OpenBeneathTest, OpensRegularFilesBeneathTheRootOnly) {
    struct Case {
        const char* Relative;
        int Errno; // 0: opens
    } cases[] = {
        {"a/file", 0},          {"/a//./file", 0},   {"a/link", ENOENT},    {"folder/secret", ENOENT},
        {"a/fifo", ENOENT},     {"a", ENOENT},       {"../home/secret", ENOENT},
        {"a/missing", ENOENT},  {"b/file", ENOENT},  {"a/file/x", ENOTDIR},
    };
    for (const Case& c : cases) {
        errno = 0;
        const int fd = platform::OpenBeneath(Root, QString::fromLatin1(c.Relative));
        if (c.Errno == 0) {
            ASSERT_GE(fd, 0) << c.Relative << " " << std::strerror(errno);
            char bytes[16] = {};
            EXPECT_EQ(::read(fd, bytes, sizeof bytes), 6) << c.Relative; // blocking again, and readable
            ::close(fd);
        } else {
            EXPECT_EQ(fd, -1) << c.Relative;
            EXPECT_EQ(errno, c.Errno) << c.Relative << " " << std::strerror(errno);
        }
    }
}

TEST_P(OpenBeneathTest, DriveFilesOpenBeneathTheirMountPoint) {
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'E', Root, platform::DriveRemovable, {}}});
    EXPECT_EQ(platform::OpenReadOnly("E:/a/file")->readAll(), "inside");
    EXPECT_THROW(platform::OpenReadOnly("E:/a/link"), platform::EFOpenError);
    EXPECT_THROW(platform::OpenReadWrite("E:/folder/secret"), platform::EFOpenError);
    EXPECT_THROW(platform::OpenReadOnly("E:/a/fifo"), platform::EFOpenError);
    EXPECT_TRUE(platform::FileExists("E:/a/file"));
    EXPECT_FALSE(platform::FileExists("E:/a/link"));
    EXPECT_FALSE(platform::FileExists("E:/a/fifo"));
}

INSTANTIATE_TEST_SUITE_P(Ways, OpenBeneathTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Walk" : "Openat2"; });

} // namespace
