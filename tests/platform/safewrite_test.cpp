#include "platform/SafeWrite.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

using platform::SafeWrite;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Nothing under the final name until the commit, no temporary after it or after an abandon,
// and never a replaced file that appeared meanwhile, unless a replace is asked for.
TEST(SafeWrite, CommitMovesCompleteFileIntoPlaceAndNeverReplaces) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/a.jpg", src = dir.path() + "/src";
    {
        SafeWrite w(dir.path());
        ASSERT_TRUE(w.Write(QByteArray("hello ")) && w.Write(QByteArray("world")));
        EXPECT_FALSE(QFile::exists(target));
        EXPECT_TRUE(w.TempPath().startsWith(dir.path() + "/"));
        ASSERT_TRUE(w.Commit(target));
        SafeWrite abandoned(dir.path());
        ASSERT_TRUE(abandoned.Write(QByteArray("abandoned")));
    }
    EXPECT_EQ(ReadAll(target), QByteArray("hello world"));
    SafeWrite late(dir.path());
    ASSERT_TRUE(late.Write(QByteArray("new")));
    QFile::remove(target);
    ASSERT_TRUE(platform::WriteFileSafely(target, "old"));
    errno = 0;
    EXPECT_FALSE(late.Commit(target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(platform::WriteFileSafely(target, "two"));
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    EXPECT_TRUE(platform::WriteFileSafely(target, "three", true));
    EXPECT_EQ(ReadAll(target), QByteArray("three"));

    EXPECT_THROW(SafeWrite(dir.path() + "/gone"), platform::EFOpenError);
    EXPECT_FALSE(platform::WriteFileSafely(dir.path() + "/gone/x", "x"));
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(platform::WriteFileSafely(src, "s"));
    EXPECT_FALSE(platform::MoveNoReplace(src, target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(platform::MoveNoReplace(src, dir.path() + "/moved"));
    EXPECT_EQ(ReadAll(dir.path() + "/moved"), QByteArray("s"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.jpg", "moved"}));
}

} // namespace
