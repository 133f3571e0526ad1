#include "transfer/DestNaming.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using app::BuildDestPath;

const QString note = QString::fromUtf8("\xF0\x9F\x8E\xB5");

TEST(TransferNaming, NamePartsReplaceTrimAndCut) {
    const struct {
        QString In, Kind, Out;
    } cases[] = {
        {"a\"b*c.d<e>f\\g|h/i:j?", " Name", "a_b_c_d_e_f_g_h_i_j_"},
        {"   ", " Artist", "Unknown Artist"},
        {"\tA\tB ", " Name", "A\tB"},                                 // control characters inside stay
        {QString(40, 'x') + " yyyyyyyyy", " Name", QString(40, 'x')}, // cut to 41, then trimmed
        {"..", " Name", "__"},                                        // never "." or ".."
        {note.repeated(30), " Name", note.repeated(20)},              // no half of a surrogate pair
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::MakeNamePart(c.In, c.Kind), c.Out) << c.In.toStdString();
}

TEST(TransferNaming, SevenLayoutsAndLongNamesInWideScripts) {
    // Layout 1 is unused; 7 and -1 are unknown and taken as the first.
    const QStringList expected =
        QString("Home||Blue Harbor - Home|Home - Blue Harbor|Blue Harbor - Night Trains - Home|"
                "Home - Night Trains - Blue Harbor|Home - Blue Harbor - Night Trains")
            .split('|');
    for (int layout : {0, 2, 3, 4, 5, 6, 7, -1})
        EXPECT_EQ(BuildDestPath("/out/", layout, "Home", "Blue Harbor", "Night Trains", nullptr),
                  "/out/" + expected.value(layout, "Home"))
            << layout;
    QTemporaryDir temp;
    const QString wide = QString(60, QChar(0x65E5)); // three bytes a character in UTF-8
    for (int layout = 0; layout <= 6; ++layout) {
        // With a clash number and an extension the name is still one the file system takes.
        QFile file(BuildDestPath(temp.path() + "/", layout, wide, note.repeated(60), wide, nullptr) + "123.mp3");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << layout << " " << file.errorString().toStdString();
    }
}
