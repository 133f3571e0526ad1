#include "transfer/DestNaming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using app::BuildDestPath;
using app::MakeNamePart;

TEST(TransferNaming, NamePartsReplaceTrimAndCut) {
    EXPECT_EQ(MakeNamePart("Rock/Pop: Live?", " Name"), "Rock_Pop_ Live_");
    EXPECT_EQ(MakeNamePart("a\"b*c.d<e>f\\g|h", " Name"), "a_b_c_d_e_f_g_h");
    EXPECT_EQ(MakeNamePart("", " Name"), "Unknown Name");
    EXPECT_EQ(MakeNamePart("   ", " Artist"), "Unknown Artist");
    EXPECT_EQ(MakeNamePart("\t\r\n", " Album"), "Unknown Album");
    EXPECT_EQ(MakeNamePart("  Night Trains  ", " Album"), "Night Trains");
    // Control characters inside stay; only the ends are trimmed.
    EXPECT_EQ(MakeNamePart("\tA\tB ", " Name"), "A\tB");
    EXPECT_EQ(MakeNamePart(QString::fromUtf8("Ümlaut 日本"), " Name"), QString::fromUtf8("Ümlaut 日本"));
    // The cut to 41 comes before the trim.
    const QString fifty = QString(40, 'x') + QStringLiteral(" yyyyyyyyy");
    EXPECT_EQ(MakeNamePart(fifty, " Name"), QString(40, 'x'));
    EXPECT_EQ(MakeNamePart(QString(50, 'z'), " Name"), QString(41, 'z'));
    EXPECT_EQ(MakeNamePart(QString(41, 'q'), " Name"), QString(41, 'q'));
    // A long value of blanks would leave no name at all.
    EXPECT_EQ(MakeNamePart(QString(60, ' '), " Name"), "Unknown Name");
    // Dots never survive, so no part can be "." or "..".
    EXPECT_EQ(MakeNamePart("..", " Name"), "__");
    // The cut never leaves half of a surrogate pair.
    const QString note = QString::fromUtf8("\xF0\x9F\x8E\xB5");
    EXPECT_EQ(MakeNamePart(note.repeated(30), " Name"), note.repeated(20));
}

TEST(TransferNaming, LongNamesInWideScriptsStillMakeFiles) {
    QTemporaryDir temp;
    const QString wide = QString(60, QChar(0x65E5)); // three bytes a character in UTF-8
    const QString notes = QString::fromUtf8("\xF0\x9F\x8E\xB5").repeated(60);
    for (int layout = 0; layout <= 6; ++layout) {
        const QString dest = BuildDestPath(temp.path() + "/", layout, wide, notes, wide, nullptr);
        EXPECT_EQ(QString::fromUtf8(dest.toUtf8()), dest) << layout;
        // With a clash number and an extension the name is still one the file system takes.
        QFile file(dest + "123.mp3");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << layout << " " << file.errorString().toStdString();
    }
}

TEST(TransferNaming, SevenLayouts) {
    const QString f = QStringLiteral("/out/");
    struct Case {
        int Layout;
        const char* Expected;
    } cases[] = {
        {0, "/out/Home"},
        {2, "/out/Blue Harbor - Home"},
        {3, "/out/Home - Blue Harbor"},
        {4, "/out/Blue Harbor - Night Trains - Home"},
        {5, "/out/Home - Night Trains - Blue Harbor"},
        {6, "/out/Home - Blue Harbor - Night Trains"},
        {7, "/out/Home"},
        {-1, "/out/Home"},
    };
    for (const Case& c : cases) {
        QString log;
        EXPECT_EQ(BuildDestPath(f, c.Layout, "Home", "Blue Harbor", "Night Trains", &log), c.Expected) << c.Layout;
        EXPECT_TRUE(log.isEmpty());
    }
    EXPECT_EQ(BuildDestPath(f, 2, "Home", "", "x", nullptr), "/out/Unknown Artist - Home");
    EXPECT_EQ(app::NamingLayoutTexts().size(), 7);
}

TEST(TransferNaming, FolderLayoutMakesFoldersOrLogs) {
    QTemporaryDir temp;
    const QString f = temp.path() + QStringLiteral("/music/");
    QString log;
    const QString dest = BuildDestPath(f, 1, "Home", "Blue Harbor", "Night Trains", &log);
    EXPECT_EQ(dest, f + QStringLiteral("Blue Harbor/Night Trains/Home"));
    EXPECT_TRUE(QDir(f + QStringLiteral("Blue Harbor/Night Trains")).exists());
    EXPECT_TRUE(log.isEmpty());
    // Existing folders are fine.
    EXPECT_EQ(BuildDestPath(f, 1, "Home", "Blue Harbor", "Night Trains", &log), dest);

    // A file where the artist folder should be.
    QFile blocker(f + QStringLiteral("Stone"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(BuildDestPath(f, 1, " Odd.Title ", "Stone", "Age", &log).isEmpty());
    EXPECT_EQ(log, QStringLiteral("[X] Stopped at:  Odd.Title \r\nReason, Cannot create artist folder:\r\n") + f +
                       QStringLiteral("Stone/Age"));
}
