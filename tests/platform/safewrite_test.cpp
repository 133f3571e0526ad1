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

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(SafeWrite, CommitMovesCompleteFileIntoPlaceAndLeavesNoTemporary) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/a.jpg";
    {
        SafeWrite w(dir.path());
        ASSERT_TRUE(w.Write(QByteArray("hello ")));
        ASSERT_TRUE(w.Write(QByteArray("world")));
        // Nothing under the final name until the commit.
        EXPECT_FALSE(QFile::exists(target));
        EXPECT_TRUE(w.TempPath().startsWith(dir.path() + "/"));
        ASSERT_TRUE(w.Commit(target));
    }
    EXPECT_EQ(ReadAll(target), QByteArray("hello world"));
    EXPECT_EQ(Entries(dir.path()), QStringList{"a.jpg"});
}

TEST(SafeWrite, NeverReplacesAFileThatAppearedMeanwhile) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/a.jpg";
    SafeWrite w(dir.path());
    ASSERT_TRUE(w.Write(QByteArray("new")));
    ASSERT_TRUE(platform::WriteFileSafely(target, "old"));
    errno = 0;
    EXPECT_FALSE(w.Commit(target));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadAll(target), QByteArray("old"));
    EXPECT_EQ(Entries(dir.path()), QStringList{"a.jpg"}); // temporary removed
}

TEST(SafeWrite, ReplaceOnlyWhenAskedAndDiscardOnDestruction) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/0.bmp";
    ASSERT_TRUE(platform::WriteFileSafely(target, "one"));
    EXPECT_FALSE(platform::WriteFileSafely(target, "two"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(platform::WriteFileSafely(target, "three", true));
    EXPECT_EQ(ReadAll(target), QByteArray("three"));
    {
        SafeWrite w(dir.path());
        ASSERT_TRUE(w.Write(QByteArray("abandoned")));
    }
    EXPECT_EQ(Entries(dir.path()), QStringList{"0.bmp"});
}

TEST(SafeWrite, MissingFolderRaisesAndMoveKeepsSourceOnConflict) {
    QTemporaryDir dir;
    EXPECT_THROW(SafeWrite(dir.path() + "/gone"), platform::EFOpenError);
    EXPECT_FALSE(platform::WriteFileSafely(dir.path() + "/gone/x", "x"));
    EXPECT_EQ(errno, ENOENT);

    ASSERT_TRUE(platform::WriteFileSafely(dir.path() + "/src", "s"));
    ASSERT_TRUE(platform::WriteFileSafely(dir.path() + "/dst", "d"));
    EXPECT_FALSE(platform::MoveNoReplace(dir.path() + "/src", dir.path() + "/dst"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadAll(dir.path() + "/src"), QByteArray("s"));
    EXPECT_TRUE(platform::MoveNoReplace(dir.path() + "/src", dir.path() + "/moved"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/src"));
    EXPECT_EQ(ReadAll(dir.path() + "/moved"), QByteArray("s"));
}
