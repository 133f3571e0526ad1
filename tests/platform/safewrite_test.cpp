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

class SafeWriteTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    const QString Target = Dir.path() + "/a.jpg";
    QStringList Entries() const { return QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

// Nothing under the final name until the commit, no temporary after it or after an abandon,
// and never a replaced file that appeared meanwhile.
TEST_F(SafeWriteTest, CommitMovesCompleteFileIntoPlaceAndNeverReplaces) {
    {
        SafeWrite w(Dir.path());
        ASSERT_TRUE(w.Write(QByteArray("hello ")) && w.Write(QByteArray("world")));
        EXPECT_FALSE(QFile::exists(Target));
        EXPECT_TRUE(w.TempPath().startsWith(Dir.path() + "/"));
        ASSERT_TRUE(w.Commit(Target));
    }
    EXPECT_EQ(ReadAll(Target), QByteArray("hello world"));
    SafeWrite late(Dir.path());
    ASSERT_TRUE(late.Write(QByteArray("new")));
    QFile::remove(Target);
    ASSERT_TRUE(platform::WriteFileSafely(Target, "old"));
    errno = 0;
    EXPECT_FALSE(late.Commit(Target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadAll(Target), QByteArray("old"));
    {
        SafeWrite w(Dir.path());
        ASSERT_TRUE(w.Write(QByteArray("abandoned")));
    }
    EXPECT_EQ(Entries(), QStringList{"a.jpg"});
}

TEST_F(SafeWriteTest, ReplaceOnlyWhenAskedMissingFolderAndMoveKeepsSourceOnConflict) {
    ASSERT_TRUE(platform::WriteFileSafely(Target, "one"));
    EXPECT_FALSE(platform::WriteFileSafely(Target, "two"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(platform::WriteFileSafely(Target, "three", true));
    EXPECT_EQ(ReadAll(Target), QByteArray("three"));

    EXPECT_THROW(SafeWrite(Dir.path() + "/gone"), platform::EFOpenError);
    EXPECT_FALSE(platform::WriteFileSafely(Dir.path() + "/gone/x", "x"));
    EXPECT_EQ(errno, ENOENT);

    const QString src = Dir.path() + "/src";
    ASSERT_TRUE(platform::WriteFileSafely(src, "s"));
    EXPECT_FALSE(platform::MoveNoReplace(src, Target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadAll(src), QByteArray("s"));
    EXPECT_TRUE(platform::MoveNoReplace(src, Dir.path() + "/moved"));
    EXPECT_FALSE(QFile::exists(src));
    EXPECT_EQ(ReadAll(Dir.path() + "/moved"), QByteArray("s"));
    EXPECT_EQ(Entries(), (QStringList{"a.jpg", "moved"}));
}

} // namespace
