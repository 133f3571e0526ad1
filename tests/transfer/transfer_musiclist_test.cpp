#include "transfer_helpers.h"

#include "transfer/MusicList.h"

#include <QXmlStreamReader>

using namespace transfer_test;

// The list holds the tracks and playlists in order, without the characters XML does not allow.
TEST_F(TransferTest, MusicListHasTracksAndPlaylistsInOrder) {
    auto& a = AddTrack("Rock & Roll 'n' \"Blues\" <live>", "A.mp3", "a", "Группа", "Album");
    std::tie(a.Rating, a.PlayCount) = std::tuple(80, 3);
    AddTrack("", "B.m4a", "b").Selected = 0;
    auto& master = Db->Playlists.Add();
    std::tie(master.Name, master.TrackIds) = std::tuple("My iPod", std::vector<uint32_t>{101, 102});
    Db->Playlists.Add().Name = "Empty";
    Run({.MusicCount = 1, .PhotoCount = 1, .ListOnly = true});
    const QString loc = "|key:Location|string:file://localhost" + DeviceRoot + "/iPod_Control/Music/F00/";
    // The document as "element:text" tokens joined by '|', in order.
    QStringList tokens;
    QXmlStreamReader r(ReadFile(Music + "VRQMusicList.xml"));
    for (r.readNext(); !r.atEnd(); r.readNext())
        if (r.isStartElement())
            tokens << r.name().toString();
        else if (r.isCharacters() && !r.isWhitespace())
            tokens.last() += ":" + r.text().toString();
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    EXPECT_EQ(tokens.join('|'),
              "plist|dict|key:Tracks|dict|key:101|dict|key:Track ID|integer:101|key:Name|string:Rock & Roll 'n' "
              "\"Blues\" <live>|key:Artist|string:Группа|key:Album|string:Album|key:Rating|integer:80|key:Play "
              "Count|integer:3" +
                  loc +
                  "A.mp3|key:102|dict|key:Track ID|integer:102|key:Name|string|key:Artist|string|key:Album|string" +
                  loc +
                  "B.m4a|key:Playlists|array|dict|key:Name|string:My iPod|key:Master|true|key:Visible|false|key:All "
                  "Items|true|key:Playlist Items|array|dict|key:Track ID|integer:101|dict|key:Track ID|integer:102|"
                  "dict|key:Name|string:Empty|key:All Items|true|key:Playlist Items|array");
    // Only the list: no summary, no copies.
    EXPECT_EQ(app::DetailLog.Text(), "\r\nPassive: Generate list:\r\nDone.");
    EXPECT_EQ(AllFiles(Music), QStringList{"VRQMusicList.xml"});
    // A cancel or a failed save writes nothing and says so.
    const QByteArray written = ReadFile(Music + "VRQMusicList.xml");
    EXPECT_EQ(Run({.MusicCount = 1, .ListOnly = true}, nullptr, nullptr, CancelAt(QString())).Display->StageTitle,
              "No file was written");
    EXPECT_EQ(ReadFile(Music + "VRQMusicList.xml"), written);
    Db->OutputFolder = Temp.path() + "/missing/";
    const auto failed = Run({.MusicCount = 1, .ListOnly = true});
    EXPECT_TRUE(!failed.ListSaved && failed.Display->ItemText.startsWith("The music list could not be saved: "));
    // On a handheld the list's locations are the copy destinations.
    Db = std::make_unique<device::TiTunesDB>("D", true);
    std::tie(Db->OutputFolder, Db->NamingScheme) = std::tuple(Music, 2);
    AddTrack("Home", "X.mp3", QByteArray(), "Blue Harbor");
    Run({.MusicCount = 1, .Handheld = true, .ListOnly = true});
    EXPECT_TRUE(ReadFile(Music + "VRQMusicList.xml")
                    .contains("<string>file://localhost" + Music.toUtf8() + "Blue Harbor - Home.mp3</string>"));
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xB5");
    const QString text = QStringLiteral("a\x01\x1F") + "b\tc" + QChar(0xD800) + "d" + QChar(0xDC00) + QChar(0xFFFE) +
                         QChar(0xFFFF) + emoji + "&";
    EXPECT_EQ(app::XmlEscape(text), "ab\tcd" + emoji.toUtf8() + "&amp;");
}
