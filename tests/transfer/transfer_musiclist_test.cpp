#include "transfer_helpers.h"

#include "transfer/MusicList.h"

#include <QXmlStreamReader>

using namespace transfer_test;

namespace {

// The document as a flat list of "element:text" tokens, in order.
QStringList Tokens(const QByteArray& xml) {
    QStringList out;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement())
            out << r.name().toString();
        else if (r.isCharacters() && !r.isWhitespace())
            out.last() += ":" + r.text().toString();
    }
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    return out;
}

} // namespace

class MusicListTest : public TransferTest {
protected:
    void Fill() {
        auto& a =
            AddTrack("Rock & Roll 'n' \"Blues\" <live>", "A.mp3", "a", QString::fromUtf8("Группа"), "Album");
        a.Rating = 80;
        a.PlayCount = 3;
        auto& b = AddTrack("", "B.m4a", "b");
        b.Selected = 0;
        auto& master = Db->Playlists.Add();
        master.Name = "My iPod";
        master.TrackIds = {a.TrackId, b.TrackId};
        Db->Playlists.Add().Name = "Empty";
    }
    QByteArray ListBytes() { return ReadBytes(Music + "VRQMusicList.xml"); }
};

TEST_F(MusicListTest, TracksAndPlaylistsInOrderWithEntities) {
    Fill();
    TransferRun run;
    Run(run, 1, 1, false, /*listOnly=*/true);
    const QByteArray xml = ListBytes();
    EXPECT_TRUE(xml.contains("Rock &amp; Roll &apos;n&apos; &quot;Blues&quot; &lt;live&gt;"));
    const QString loc = "file://localhost" + DeviceRoot + "/iPod_Control/Music/F00/A.mp3";
    const QString expected =
        "plist|dict|key:Tracks|dict|key:101|dict|key:Track ID|integer:101|key:Name|"
        "string:Rock & Roll 'n' \"Blues\" <live>|key:Artist|string:" +
        QString::fromUtf8("Группа") +
        "|key:Album|string:Album|key:Rating|integer:80|key:Play Count|integer:3|key:Location|string:" + loc +
        "|key:102|dict|key:Track "
        "ID|integer:102|key:Name|string|key:Artist|string|key:Album|string|key:Location|"
        "string:file://localhost" +
        DeviceRoot +
        "/iPod_Control/Music/F00/B.m4a|key:Playlists|array|"
        "dict|key:Name|string:My iPod|key:Master|true|key:Visible|false|key:All Items|true|key:Playlist "
        "Items|array|"
        "dict|key:Track ID|integer:101|dict|key:Track ID|integer:102|"
        "dict|key:Name|string:Empty|key:All Items|true|key:Playlist Items|array";
    EXPECT_EQ(Tokens(xml).join('|'), expected);
    // Only the list: no summary, no copies.
    EXPECT_EQ(app::DetailLog.Text(), "\r\nPassive: Generate list:\r\nDone.");
    EXPECT_EQ(run.Display->StageTitle, "File saved as \"VRQMusicList.xml\"");
    EXPECT_EQ(AllFiles(Music), QStringList{"VRQMusicList.xml"});
}

TEST(MusicListText, CharactersXmlDoesNotAllowAreLeftOut) {
    const QString emoji = QString::fromUtf8("\xF0\x9F\x8E\xB5");
    const QString text = QStringLiteral("a\x01\x1F"
                                        "b\tc") +
                         QChar(0xD800) + "d" + QChar(0xDC00) + QChar(0xFFFE) + QChar(0xFFFF) + emoji + "&";
    EXPECT_EQ(app::XmlEscape(text), "ab\tcd" + emoji.toUtf8() + "&amp;");
}

TEST_F(MusicListTest, HandheldLocationsAreTheCopyDestinations) {
    Fill();
    Db = std::make_unique<device::TiTunesDB>("D", true);
    Db->OutputFolder = Music;
    Db->NamingScheme = 2;
    AddTrack("Home", "X.mp3", QByteArray(), "Blue Harbor");
    TransferRun run;
    Run(run, 1, 0, true, true);
    EXPECT_TRUE(ListBytes().contains("<string>file://localhost" + Music.toUtf8() +
                                     "Blue Harbor - Home.mp3</string>"));
}

TEST_F(MusicListTest, CancelOrFailedSaveWritesNothingAndSaysSo) {
    Fill();
    WriteBytes(Music + "VRQMusicList.xml", "earlier");
    TransferRun cancelled;
    CancelAt(cancelled, QString());
    Run(cancelled, 1, 0, false, true);
    EXPECT_EQ(ListBytes(), "earlier");
    EXPECT_EQ(cancelled.Display->StageTitle, "No file was written");

    app::DetailLog.Clear();
    Db->OutputFolder = Temp.path() + "/missing/";
    TransferRun failed;
    Run(failed, 1, 0, false, true);
    EXPECT_FALSE(failed.ListSaved);
    EXPECT_EQ(failed.Display->StageTitle, "No file was written");
    EXPECT_TRUE(failed.Display->ItemText.startsWith("The music list could not be saved: "));
    EXPECT_FALSE(app::DetailLog.Text().contains("Done."));
}
