// The iTunes export against the scripted iTunes: the stage alone with a recording host, and
// once through the copy thread.
#include "transfer_helpers.h"

#include "device/ArtworkDb.h"
#include "tests/doubles/itunes/ScriptedITunes.h"
#include "transfer/ITunesStage.h"

#include <stdexcept>

using doubles::ScriptedITunes;

namespace {

// The stage's host: records the log, the flag and the calls; a device with only its master
// playlist (never exported).
struct Host : app::TITunesStageHost {
    Host() {
        It.OnCancel = [this] { Cancel = true; };
        Db.Playlists.Add().Name = "iPod";
    }
    bool Terminated() const override { return Cancel; }
    void Log(const QString& entry) override { Entries << entry; }
    void ShowITunesStart() override {}
    void ShowITunesCreating() override {}
    void StepProgress() override {
        if (++Steps == FailAtStep)
            throw std::runtime_error("display gone");
    }
    void FillProgress() override {}
    void SetITunesFailed(bool failed) override { Failed = failed; }
    QString ArtBitmapPath(int index) const override { return "/art/" + QString::number(index) + ".bmp"; }

    // A checked track, copied unless `copied` is false.
    device::TTrackItem& Track(const QString& title, uint32_t id, bool copied = true) {
        device::TTrackItem& t = Db.Tracks.Add();
        std::tie(t.Title, t.TrackId, t.Selected) = std::tuple(title, id, 1);
        t.DestPath = copied ? "/m/" + title + ".mp3" : QString();
        Copied += copied;
        return t;
    }
    void List(const QString& name, std::vector<uint32_t> ids, bool smart = false) {
        device::TPlayListItem& p = Db.Playlists.Add();
        std::tie(p.Name, p.Count, p.Smart) = std::tuple(name, int(ids.size()), smart);
        p.TrackIds = std::move(ids);
    }
    void Run(bool copyArt = false) { app::RunITunesStage(*this, It, {&Db, &Art, Copied, Db.Tracks.Count(), copyArt}); }
    // Every call as "Op(arg,arg)", joined by spaces.
    QString Trace() const {
        QStringList out;
        for (const auto& call : It.Calls)
            out << call.Op + "(" + QVariant(call.Args.toVariantList()).toStringList().join(',') + ")";
        return out.join(' ');
    }
    // Every playlist of iTunes as "Name:Track,Track", smart ones marked with a star.
    std::string Lists() const {
        QStringList out;
        for (const auto& p : It.Playlists) {
            QStringList names;
            for (int t : p.Tracks)
                names << It.Tracks[size_t(t)].Name;
            out << p.Name + (p.Smart ? "*:" : ":") + names.join(',');
        }
        return out.join(' ').toStdString();
    }

    device::TiTunesDB Db{"E:", false};
    device::TArtworkDb Art{"E:", false};
    ScriptedITunes It;
    bool Cancel = false, Failed = false;
    int Steps = 0, FailAtStep = 0, Copied = 0;
    QStringList Entries;
};

ScriptedITunes::Playlist Pl(const QString& name, bool smart = false, int special = 0) {
    return {name, platform::itunes::KindUser, special, smart, {}};
}

} // namespace

// Under an ordinary locale: only the case of a name is folded, by the user's locale.
TEST(ITunesStage, PlaylistsMatchByNameInAnyCaseAndTracksOfAnIdAreAddedOnce) {
    const QLocale before;
    QLocale::setDefault(QLocale("en_US"));
    Host h;
    h.Track("A", 7);
    h.Track("A twin", 7);
    h.Track("Unchecked", 8).Selected = 0;
    h.Track("Not copied", 9, false);
    h.Track("Here", 10);
    h.It.Tracks = {{"Here", "/m/Here.mp3"}};
    h.It.Playlists = {Pl("MIX", true),       Pl("road trip"),  Pl("Party", true),
                      Pl("party", false, 4), Pl("straße"),     Pl("ｆａｖｏｒｉｔｏｓ ★"),
                      Pl("ひかり"),          Pl("Lo\u00ADfi"), Pl("Jazz\u200D")};
    h.It.Playlists[1].Tracks = {0};
    h.List("Mix", {7}, true);                // a smart match: left alone
    h.List("Road Trip", {7, 8, 9, 404, 10}); // a plain match: reused, its tracks not added twice
    h.List("Gym", {7}, true);                // no match: created plain
    h.List("PARTY", {7});                    // only a smart and a special one: created beside them
    h.List("STRASSE", {7});                  // a capital of two letters
    for (const char* other : {"Favoritos ★", "ヒカリ", "Lofi", "Jazz"}) // width, kana, invisible characters
        h.List(other, {7});
    h.Run();
    EXPECT_EQ(h.Lists(), "Library:Here,A,A twin MIX*: road trip:Here,A Party*: party: straße:A ｆａｖｏｒｉｔｏｓ ★: "
                         "ひかり: Lo\u00ADfi: Jazz\u200D: Gym:A PARTY:A Favoritos ★:A ヒカリ:A Lofi:A Jazz:A");
    h.It.Calls.clear();
    h.Run();
    EXPECT_FALSE(h.Trace().contains("AddFile(road trip"));
    // A Turkish user's capital I is a dotless i.
    QLocale::setDefault(QLocale("tr_TR"));
    Host t;
    t.Track("A", 7);
    t.It.Playlists = {Pl("isparta"), Pl("ısparta")};
    t.List("ISPARTA", {7});
    t.Run();
    EXPECT_EQ(t.Lists(), "Library:A isparta: ısparta:A");
    QLocale::setDefault(before);
}

// Nothing copied: iTunes is never started; then artwork goes only to tracks without images whose
// bitmap was written.
TEST(ITunesStage, NothingCopiedStartsNothingAndArtworkGoesWhereItIsMissing) {
    Host h;
    h.Track("N", 9, false);
    h.Run(true);
    EXPECT_TRUE(h.It.Calls.empty());
    for (int i = 0; i < 3; ++i)
        h.Art.Arts.Add()->Selected = i != 2;
    for (int art : {0, 1, -1, 2, 3}) // has an image in iTunes, gets one, none, not written, out of range
        h.Track("T" + QString::number(art), uint32_t(art + 2)).ArtIndex = art;
    h.It.Tracks = {{"T0", "/m/T0.mp3", 0, 0, 1}};
    h.Run(true);
    EXPECT_TRUE(h.Trace().count("AddArtwork") == 1 && h.Trace().contains("AddArtworkFromFile(T1,/art/1.bmp)"));
}

// A whole run, then a failure, a cancel or a throw at one point of it: the log, the flag and
// the calls at the end.
TEST(ITunesStage, RunsInOrderAndFailuresAndCancelsEndItReleasingEveryObject) {
    const char* closing = "Sleep(500) Quit() Uninitialize()";
    const QString versionClosing = QString("Version() ") + closing;
    const char* whole =
        "Initialize() CreateApplication() LibraryPlaylist() AddFile(Library,/m/A.mp3) InProgress() Sleep(300) "
        "InProgress() AddedTracks() TrackCount(added) TrackItem(added,1) SetRating(A,20) SetPlayedCount(A,3) "
        "AddFile(Library,/m/B.mp3) InProgress() Sleep(300) InProgress() AddedTracks() TrackCount(added) "
        "TrackItem(added,1) SetRating(B,20) Sleep(100) LibrarySource() Playlists() PlaylistCount() PlaylistCount() "
        "PlaylistItem(1) Kind(Library) CreatePlaylist(L0) Tracks(L0) TrackByName(L0,B) AddFile(L0,/m/B.mp3) "
        "InProgress() Sleep(100) InProgress() Tracks(L0) TrackByName(L0,A) AddFile(L0,/m/A.mp3) InProgress() "
        "Sleep(100) InProgress() Sleep(500) Quit() Uninitialize()";
    const char* noStart = "[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\nReason: boom";
    const struct {
        std::vector<ScriptedITunes::Failure> Failures;
        int Lists, FailAtStep; // Lists: device playlists besides the master
        QString Tail;
        const char* Block; // the error block's message and stage counts; none when not failed
        bool Throws = false;
    } cases[] = {
        {{}, 1, 0, whole, nullptr},
        {{{"LibraryPlaylist", 1, "boom"}}, 1, 0, versionClosing, "boom\r\n1M: 0:2\r\nP: 0:2 - 0"},
        {{}, 0, 2, versionClosing, "display gone\r\n2M: 1:2\r\nP: 0:1 - 0"}, // the bar's step after the tracks
        {{{"PlaylistCount", 2, "boom"}}, 2, 0, versionClosing, "boom\r\n3M: 1:2\r\nP: 0:3 - 1"},
        {{{"CreateApplication", 1, "boom"}}, 1, 0, "Initialize() CreateApplication() Uninitialize()", noStart},
        // A cancel comes after the named call; iTunes is left open when it comes before it is started.
        {{{"CreateApplication", 1, {}, false, true}}, 1, 0, "CreateApplication() Uninitialize()", nullptr},
        {{{"SetRating", 1, {}, false, true}}, 1, 0, QString("SetRating(A,20) SetPlayedCount(A,3) ") + closing, nullptr},
        {{{"InProgress", 1, {}, false, true}}, 1, 0, QString("InProgress() Sleep(300) ") + closing, nullptr},
        {{{"Playlists", 1, {}, false, true}}, 1, 0, QString("Playlists() PlaylistCount() ") + closing, nullptr},
        {{{"CreatePlaylist", 1, {}, false, true}}, 1, 0, QString("CreatePlaylist(L0) ") + closing, nullptr},
        {{{"InProgress", 5, {}, false, true}}, 1, 0, QString("InProgress() Sleep(100) ") + closing, nullptr},
        // A failed version read or quit leaves the stage without a block; iTunes is still asked to quit.
        {{{"LibraryPlaylist", 1, "x"}, {"Version", 1, "gone"}}, 0, 0, versionClosing, nullptr, true},
        {{{"Quit", 1, "gone"}}, 0, 0, "Quit() Uninitialize()", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Tail.toStdString());
        Host h;
        h.It.AddPolls = 1;
        h.FailAtStep = c.FailAtStep;
        h.Track("A", 1).Rating = 20;
        h.Track("B", 2).Rating = 20;
        h.Db.Tracks.GetItem(0).PlayCount = 3;
        for (int i = 0; i < c.Lists; ++i)
            h.List("L" + QString::number(i), {2, 1});
        h.It.Failures = c.Failures;
        h.It.Failures.push_back({"SetRating", 2, "rating refused"});
        if (c.Throws)
            EXPECT_THROW(h.Run(), platform::itunes::Error);
        else
            h.Run();
        const QString block = c.Block == noStart ? c.Block
                                                 : "[X]Error occured when adding to iTunes.\r\n" + QString(c.Block) +
                                                       "\r\nVer: 12.13.2.3\r\n";
        EXPECT_EQ(h.Entries.join('|'), c.Block ? "2/2|" + block : "2/2");
        EXPECT_TRUE(c.Throws || h.Failed == (c.Block != nullptr));
        EXPECT_TRUE(h.Trace().endsWith(c.Tail) && h.It.LiveAtUninitialize == 0) << h.Trace().toStdString();
    }
}

// Through the copy thread: the log and the summary; a failed export leaves the photo stage to run.
using ITunesThroughTheThread = transfer_test::TransferTest;

TEST_F(ITunesThroughTheThread, CopiedFilesReachTheScriptedITunesAndTheSummarySaysSo) {
    AddTrack("One", "1.mp3", "1");
    AddTrack("Two", "2.mp3", "2");
    Db->Playlists.Add().Name = "iPod";
    Db->Playlists.Add().Name = "Road";
    AddPhoto(":Q.JPG", "q");
    ScriptedITunes it;
    it.Failures = {{"CreatePlaylist", 1, "Disk full"}};
    ITunes = &it;
    Run({.MusicCount = 2, .PhotoCount = 1, .ToITunes = true}, Photos.get());
    EXPECT_EQ(it.CallsOf("AddFile").at(1).Args, QJsonArray({"Library", Music + "Two.mp3"}));
    EXPECT_TRUE(app::DetailLog.Text().endsWith(
        "\r\nAdd to iTunes:\r\n2/2\r\n[X]Error occured when adding to iTunes.\r\nDisk full\r\n3M: 2:2\r\nP: 0:2 - 1"
        "\r\nVer: 12.13.2.3\r\n\r\n- done.\r\nPhotos\r\n\r\nMusic: 2/2\r\nPhotos: 1/1\r\nTo iTunes: -1, -1"))
        << app::DetailLog.Text().toStdString();
}
