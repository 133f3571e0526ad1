#include "transfer/DestNaming.h"
#include "transfer_helpers.h"

using app::BuildDestPath;
using namespace transfer_test;

const QString note = QString::fromUtf8("\xF0\x9F\x8E\xB5");

TEST(TransferNaming, NamePartsReplaceTrimAndCut) {
    const std::tuple<QString, QString, QString> cases[] = {
        {"a\"b*c.d<e>f\\g|h/i:j?", " Name", "a_b_c_d_e_f_g_h_i_j_"},
        {"   ", " Artist", "Unknown Artist"},
        {"\tA\nB\x1b[0m\x7f\r", " Name", "A_B_[0m_"},                 // no control character inside
        {QString(40, 'x') + " yyyyyyyyy", " Name", QString(40, 'x')}, // cut to 41, then trimmed
        {"..", " Name", "__"},                                        // never "." or ".."
        {note.repeated(30), " Name", note.repeated(20)},              // no half of a surrogate pair
    };
    for (const auto& [in, kind, out] : cases)
        EXPECT_EQ(app::MakeNamePart(in, kind), out) << in.toStdString();
}

// The layouts' names are those of the test of control characters below; 7 and -1 are unknown
// and taken as the first.
TEST(TransferNaming, UnknownLayoutsAndLongNamesInWideScripts) {
    for (int layout : {7, -1})
        EXPECT_EQ(BuildDestPath("/out/", layout, "Home", "Blue Harbor", "Night Trains", nullptr), "/out/Home")
            << layout;
    QTemporaryDir temp;
    const QString wide = QString(60, QChar(0x65E5)); // three bytes a character in UTF-8
    for (int layout = 0; layout <= 6; ++layout) {
        // With a clash number and an extension the name is still one the file system takes.
        QFile file(BuildDestPath(temp.path() + "/", layout, wide, note.repeated(60), wide, nullptr) + "123.mp3");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << layout << " " << file.errorString().toStdString();
    }
}

// Every name a transfer makes from device text: the seven layouts with their folders, the
// extension of the device's file, a full-size photo's name.
TEST_F(TransferTest, ControlCharactersInDeviceTextNeverReachAName) {
    for (int layout = 0; layout <= 6; ++layout) {
        Db->Tracks.Clear();
        AddTrack("Bad\nTitle", "A.mp\u001b3", "a", "Art\tist", QString::fromUtf8("Al\0bum", 6));
        Db->NamingScheme = layout;
        Db->OutputFolder = Music + QString::number(layout) + "/";
        QDir().mkpath(Db->OutputFolder);
        EXPECT_EQ(Run({.MusicCount = 1}).MusicCopied, 1) << layout;
    }
    AddPhoto(":Full Resolution:IMG\r1.JPG", "p");
    Run({.PhotoCount = 1}, Photos.get());
    EXPECT_EQ(AllFiles(Temp.path() + "/music") + AllFiles(Pictures),
              QStringList({"0/Bad_Title.mp_3", "1/Art_ist/Al_bum/Bad_Title.mp_3", "2/Art_ist - Bad_Title.mp_3",
                           "3/Bad_Title - Art_ist.mp_3", "4/Art_ist - Al_bum - Bad_Title.mp_3",
                           "5/Bad_Title - Al_bum - Art_ist.mp_3", "6/Bad_Title - Art_ist - Al_bum.mp_3", "IMG_1.JPG"}));
}
