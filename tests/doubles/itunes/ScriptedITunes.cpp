#include "tests/doubles/itunes/ScriptedITunes.h"

#include <QFileInfo>
#include <QJsonValue>
#include <algorithm>
#include <numeric>

namespace doubles {
namespace {

namespace itn = platform::itunes;
using S = ScriptedITunes;

// Every object counts itself while alive, so a test sees what was not released.
struct Counted {
    explicit Counted(S* s) : Lib(s) { ++Lib->Live; }
    virtual ~Counted() { --Lib->Live; }
    S* Lib;
};

template <typename T, typename... A> std::shared_ptr<T> Make(S* s, A&&... args) {
    return std::make_shared<T>(s, std::forward<A>(args)...);
}

// The index of the first element that `pred` holds for, or -1.
template <typename T, typename P> int IndexOf(const std::vector<T>& v, P pred) {
    const auto it = std::find_if(v.begin(), v.end(), pred);
    return it == v.end() ? -1 : int(it - v.begin());
}

class ArtworkCollection final : public itn::IArtworkCollection, Counted {
public:
    ArtworkCollection(S* s, int track) : Counted(s), No(track) {}
    int Count() override {
        return Lib->Step("ArtworkCount", {Lib->Tracks[No].Name}), Lib->Tracks[No].ArtworkCount;
    }

private:
    int No;
};

class TrackObject final : public itn::ITrack, Counted {
public:
    TrackObject(S* s, int track) : Counted(s), No(track) {}
    void SetRating(int rating) override { Lib->Step("SetRating", {Name(), rating}), Me().Rating = rating; }
    void SetPlayedCount(int count) override {
        Lib->Step("SetPlayedCount", {Name(), count});
        Me().PlayedCount = count;
    }
    std::shared_ptr<itn::IArtworkCollection> Artwork() override {
        return Lib->Step("Artwork", {Name()}) ? nullptr : Make<ArtworkCollection>(Lib, No);
    }
    void AddArtworkFromFile(const QString& path) override {
        Lib->Step("AddArtworkFromFile", {Name(), path});
        ++Me().ArtworkCount;
    }

private:
    S::Track& Me() { return Lib->Tracks[size_t(No)]; }
    QString Name() { return Me().Name; }
    int No;
};

// A live view: the tracks of a playlist as they stand, or the tracks of one add.
class TrackCollection final : public itn::ITrackCollection, Counted {
public:
    TrackCollection(S* s, QString label, std::function<std::vector<int>()> tracks)
        : Counted(s), Label(std::move(label)), Tracks(std::move(tracks)) {}
    int Count() override { return Lib->Step("TrackCount", {Label}), int(Tracks().size()); }
    std::shared_ptr<itn::ITrack> Item(int index) override {
        const bool none = Lib->Step("TrackItem", {Label, index});
        const std::vector<int> tracks = Tracks();
        if (index < 1 || index > int(tracks.size())) throw itn::Error("Invalid index");
        return none ? nullptr : Make<TrackObject>(Lib, tracks[size_t(index - 1)]);
    }
    std::shared_ptr<itn::ITrack> ItemByName(const QString& name) override {
        if (Lib->Step("TrackByName", {Label, name})) return {};
        for (int t : Tracks())
            if (Lib->Tracks[size_t(t)].Name == name) return Make<TrackObject>(Lib, t);
        return {};
    }

private:
    QString Label;
    std::function<std::vector<int>()> Tracks;
};

class AddStatus final : public itn::IAddStatus, Counted {
public:
    AddStatus(S* s, int track) : Counted(s), No(track), Polls(s->AddPolls) {}
    bool InProgress() override { return Lib->Step("InProgress"), Polls-- > 0; }
    std::shared_ptr<itn::ITrackCollection> Tracks() override {
        const int track = No;
        return Lib->Step("AddedTracks")
                   ? nullptr
                   : Make<TrackCollection>(Lib, "added", [track] { return std::vector<int>{track}; });
    }

private:
    int No, Polls;
};

class PlaylistObject final : public itn::IPlaylist,
                             public itn::IUserPlaylist,
                             public itn::ILibraryPlaylist,
                             public std::enable_shared_from_this<PlaylistObject>,
                             Counted {
public:
    PlaylistObject(S* s, int playlist) : Counted(s), No(playlist) {}
    int Kind() override { return Lib->Step("Kind", {Me().Name}), Me().Kind; }
    QString Name() override { return Lib->Step("Name", {Me().Name}), Me().Name; }
    std::shared_ptr<itn::ITrackCollection> Tracks() override {
        if (Lib->Step("Tracks", {Me().Name})) return {};
        S* lib = Lib;
        const size_t no = size_t(No);
        return Make<TrackCollection>(Lib, Me().Name, [lib, no] { return lib->Playlists[no].Tracks; });
    }
    std::shared_ptr<itn::IUserPlaylist> AsUserPlaylist() override {
        if (Me().Kind != itn::KindUser) throw itn::Error("No such interface supported");
        return std::shared_ptr<itn::IUserPlaylist>(shared_from_this(),
                                                   static_cast<itn::IUserPlaylist*>(this));
    }
    bool Smart() override { return Lib->Step("Smart", {Me().Name}), Me().Smart; }
    int SpecialKind() override { return Lib->Step("SpecialKind", {Me().Name}), Me().SpecialKind; }
    std::shared_ptr<itn::IAddStatus> AddFile(const QString& path) override {
        return Lib->Step("AddFile", {Me().Name, path}) ? nullptr
                                                       : Make<AddStatus>(Lib, Lib->AddFile(No, path));
    }

private:
    S::Playlist& Me() { return Lib->Playlists[size_t(No)]; }
    int No;
};

class PlaylistCollection final : public itn::IPlaylistCollection, Counted {
public:
    using Counted::Counted;
    int Count() override { return Lib->Step("PlaylistCount"), int(Lib->Playlists.size()); }
    std::shared_ptr<itn::IPlaylist> Item(int index) override {
        if (Lib->Step("PlaylistItem", {index})) return {};
        if (index < 1 || index > int(Lib->Playlists.size())) throw itn::Error("Invalid index");
        return Make<PlaylistObject>(Lib, index - 1);
    }
};

class Source final : public itn::ISource, Counted {
public:
    using Counted::Counted;
    std::shared_ptr<itn::IPlaylistCollection> Playlists() override {
        return Lib->Step("Playlists") ? nullptr : Make<PlaylistCollection>(Lib);
    }
};

class Application final : public itn::IApplication, Counted {
public:
    using Counted::Counted;
    std::shared_ptr<itn::ILibraryPlaylist> LibraryPlaylist() override {
        return Lib->Step("LibraryPlaylist") ? nullptr : Make<PlaylistObject>(Lib, Lib->Library());
    }
    std::shared_ptr<itn::ISource> LibrarySource() override {
        return Lib->Step("LibrarySource") ? nullptr : Make<Source>(Lib);
    }
    std::shared_ptr<itn::IPlaylist> CreatePlaylist(const QString& name) override {
        if (Lib->Step("CreatePlaylist", {name})) return {};
        Lib->Playlists.push_back({name, itn::KindUser, itn::SpecialNone, false, {}});
        return Make<PlaylistObject>(Lib, int(Lib->Playlists.size()) - 1);
    }
    QString Version() override { return Lib->Step("Version"), Lib->VersionText; }
    void Quit() override { Lib->Step("Quit"); }
};

} // namespace

bool ScriptedITunes::Step(const QString& op, const QJsonArray& args) {
    Calls.push_back({op, args});
    const int n = ++CallCounts[op];
    bool none = false;
    for (const Failure& f : Failures) {
        if (f.Op != op || (f.Call != 0 && f.Call != n)) continue;
        if (f.Cancel && OnCancel) OnCancel();
        if (!f.Message.isEmpty()) throw itn::Error(f.Message);
        none = none || f.None;
    }
    return none;
}

int ScriptedITunes::Library() {
    const int found = IndexOf(Playlists, [](const Playlist& p) { return p.Kind == itn::KindLibrary; });
    if (found >= 0) return found;
    Playlists.insert(Playlists.begin(), Playlist{"Library", itn::KindLibrary, 0, false, AllTracks()});
    return 0;
}

std::vector<int> ScriptedITunes::AllTracks() const {
    std::vector<int> all(Tracks.size());
    std::iota(all.begin(), all.end(), 0);
    return all;
}

int ScriptedITunes::AddFile(int playlist, const QString& path) {
    int track = IndexOf(Tracks, [&](const Track& t) { return !t.Location.isEmpty() && t.Location == path; });
    if (track < 0) {
        Tracks.push_back({QFileInfo(path).completeBaseName(), path});
        track = int(Tracks.size()) - 1;
        Playlists[size_t(Library())].Tracks.push_back(track);
    }
    if (Playlists[size_t(playlist)].Kind != itn::KindLibrary)
        Playlists[size_t(playlist)].Tracks.push_back(track);
    return track;
}

std::shared_ptr<itn::IApplication> ScriptedITunes::CreateApplication() {
    if (Step("CreateApplication")) return {};
    Library(); // in place before any playlist object holds an index
    return Make<Application>(this);
}

QString ScriptedITunes::Load(const QJsonObject& json) {
    Tracks.clear();
    Playlists.clear();
    Failures.clear();
    for (const QJsonValue& v : json["tracks"].toArray()) {
        const QJsonObject t = v.toObject();
        Tracks.push_back({t["name"].toString(), t["location"].toString(), t["rating"].toInt(),
                          t["played"].toInt(), t["artwork"].toInt()});
    }
    for (const QJsonValue& v : json["playlists"].toArray()) {
        const QJsonObject p = v.toObject();
        Playlist list{p["name"].toString(), p["kind"].toInt(itn::KindUser), p["special"].toInt(),
                      p["smart"].toBool()};
        for (const QJsonValue& name : p["tracks"].toArray()) {
            const int found = IndexOf(Tracks, [&](const Track& t) { return t.Name == name.toString(); });
            if (found < 0)
                return QString("playlist \"%1\" names no track \"%2\"").arg(list.Name, name.toString());
            list.Tracks.push_back(found);
        }
        if (list.Kind == itn::KindLibrary) list.Tracks = AllTracks(); // the library holds every track
        Playlists.push_back(std::move(list));
    }
    Library();
    AddPolls = json["addpolls"].toInt();
    if (json.contains("version")) VersionText = json["version"].toString();
    for (const QJsonValue& v : json["failures"].toArray()) {
        const QJsonObject f = v.toObject();
        if (f["op"].toString().isEmpty()) return "a failure names no operation";
        Failures.push_back({f["op"].toString(), f["call"].toInt(), f["message"].toString(),
                            f["none"].toBool(), f["cancel"].toBool()});
    }
    return {};
}

QJsonObject ScriptedITunes::LibraryJson() const {
    QJsonArray tracks, playlists;
    for (const Track& t : Tracks)
        tracks.append(QJsonObject{
            {"name", t.Name}, {"rating", t.Rating}, {"played", t.PlayedCount}, {"artwork", t.ArtworkCount}});
    for (const Playlist& p : Playlists) {
        QJsonArray names;
        for (int t : p.Tracks)
            names.append(Tracks[size_t(t)].Name);
        QJsonObject list{{"name", p.Name}, {"kind", p.Kind}, {"special", p.SpecialKind}, {"smart", p.Smart}};
        list.insert("tracks", names);
        playlists.append(list);
    }
    return {{"tracks", tracks}, {"playlists", playlists}};
}

std::vector<ScriptedITunes::Call> ScriptedITunes::CallsOf(const QString& op) const {
    std::vector<Call> out;
    for (const Call& c : Calls)
        if (c.Op == op) out.push_back(c);
    return out;
}

} // namespace doubles
