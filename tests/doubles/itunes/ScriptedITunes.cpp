#include "tests/doubles/itunes/ScriptedITunes.h"

#include <QFileInfo>
#include <algorithm>
#include <ranges>

namespace doubles {
namespace {

using namespace platform::itunes;
using S = ScriptedITunes;
template <class T>
using Ptr = std::shared_ptr<T>;

// The index of the first element that `pred` holds for, or the size when none does.
template <class T, class P>
int IndexOf(const std::vector<T>& all, P pred) {
    return int(std::find_if(all.begin(), all.end(), pred) - all.begin());
}

// The library playlist, made first when there is none; it holds every track.
int Library(S& lib) {
    int found = IndexOf(lib.Playlists, [](auto& p) { return p.Kind == KindLibrary; });
    if (found == int(lib.Playlists.size()))
        lib.Playlists.insert(lib.Playlists.begin(), {"Library", KindLibrary}), found = 0;
    const auto all = std::views::iota(0, int(lib.Tracks.size()));
    lib.Playlists[size_t(found)].Tracks.assign(all.begin(), all.end());
    return found;
}

// Every object counts itself while alive, so a test sees what was not released. No: the
// object's track or playlist.
struct Obj {
    Obj(S* lib, int no = 0) : Lib(lib), No(no) { ++Lib->Live; }
    virtual ~Obj() { --Lib->Live; }
    bool Step(const QString& op, const QJsonArray& args = {}) const { return Lib->Step(op, args); }
    // A new T, or none when `op` is scripted to answer none.
    template <class T>
    Ptr<T> Give(const QString& op, int no = 0, const QJsonArray& args = {}) const {
        return Step(op, args) ? nullptr : std::make_shared<T>(Lib, no);
    }
    // The 0-based position of 1-based `i` in a collection of `count`.
    static int At(int i, size_t count) { return i >= 1 && i <= int(count) ? i - 1 : throw Error("Invalid index"); }
    S* Lib;
    int No;
};

// A track is also the collection of its images.
struct TrackObject final : ITrack, IArtworkCollection, Obj {
    using Obj::Obj;
    S::Track& Me() const { return Lib->Tracks[size_t(No)]; }
    void SetRating(int rating) override { Step("SetRating", {Me().Name, rating}), Me().Rating = rating; }
    void SetPlayedCount(int count) override { Step("SetPlayedCount", {Me().Name, count}), Me().PlayedCount = count; }
    Ptr<IArtworkCollection> Artwork() override { return Give<TrackObject>("Artwork", No, {Me().Name}); }
    void AddArtworkFromFile(const QString& path) override {
        Step("AddArtworkFromFile", {Me().Name, path}), ++Me().ArtworkCount;
    }
    int Count() override { return Step("ArtworkCount", {Me().Name}), Me().ArtworkCount; }
};

// A live view of the tracks of playlist No, or (No < 0) of the track -1 - No that an add gave,
// and then also the status of that add.
struct TrackCollection final : ITrackCollection, IAddStatus, Obj {
    using Obj::Obj;
    QString Label() const { return No < 0 ? "added" : Lib->Playlists[size_t(No)].Name; }
    std::vector<int> Members() const { return No < 0 ? std::vector<int>{-1 - No} : Lib->Playlists[size_t(No)].Tracks; }
    int Count() override { return Step("TrackCount", {Label()}), int(Members().size()); }
    Ptr<ITrack> Item(int index) override {
        const bool none = Step("TrackItem", {Label(), index});
        const int track = Members()[size_t(At(index, Members().size()))];
        return none ? nullptr : std::make_shared<TrackObject>(Lib, track);
    }
    Ptr<ITrack> ItemByName(const QString& name) override {
        const std::vector<int> all = Members();
        const int at = IndexOf(all, [&](int t) { return Lib->Tracks[size_t(t)].Name == name; });
        const bool none = Step("TrackByName", {Label(), name}) || at == int(all.size());
        return none ? nullptr : std::make_shared<TrackObject>(Lib, all[size_t(at)]);
    }
    int Polls = Lib->AddPolls;
    bool InProgress() override { return Step("InProgress"), Polls-- > 0; }
    Ptr<ITrackCollection> Tracks() override { return Give<TrackCollection>("AddedTracks", No); }
};

struct PlaylistObject final : IPlaylist, IUserPlaylist, ILibraryPlaylist, Obj {
    using Obj::Obj;
    S::Playlist& Me() const { return Lib->Playlists[size_t(No)]; }
    int Kind() override { return Step("Kind", {Me().Name}), Me().Kind; }
    QString Name() override { return Step("Name", {Me().Name}), Me().Name; }
    Ptr<ITrackCollection> Tracks() override { return Give<TrackCollection>("Tracks", No, {Me().Name}); }
    Ptr<IUserPlaylist> AsUserPlaylist() override {
        return Me().Kind == KindUser ? std::make_shared<PlaylistObject>(Lib, No)
                                     : throw Error("No such interface supported");
    }
    bool Smart() override { return Step("Smart", {Me().Name}), Me().Smart; }
    int SpecialKind() override { return Step("SpecialKind", {Me().Name}), Me().SpecialKind; }
    // The track of the file at `path` (a new one when the library has none), added to this playlist;
    // the library then holds each track once again.
    Ptr<IAddStatus> AddFile(const QString& path) override {
        if (Step("AddFile", {Me().Name, path}))
            return nullptr;
        const int track = IndexOf(Lib->Tracks, [&](auto& t) { return !t.Location.isEmpty() && t.Location == path; });
        if (track == int(Lib->Tracks.size()))
            Lib->Tracks.push_back({QFileInfo(path).completeBaseName(), path});
        Me().Tracks.push_back(track);
        Library(*Lib);
        return std::make_shared<TrackCollection>(Lib, -1 - track);
    }
};

// The application is also its library's source, and that the collection of its playlists.
struct Application final : IApplication, ISource, IPlaylistCollection, Obj {
    using Obj::Obj;
    Ptr<ILibraryPlaylist> LibraryPlaylist() override { return Give<PlaylistObject>("LibraryPlaylist", Library(*Lib)); }
    Ptr<ISource> LibrarySource() override { return Give<Application>("LibrarySource"); }
    Ptr<IPlaylist> CreatePlaylist(const QString& name) override {
        auto made = Give<PlaylistObject>("CreatePlaylist", int(Lib->Playlists.size()), {name});
        return made ? (Lib->Playlists.push_back({name}), made) : nullptr;
    }
    QString Version() override { return Step("Version"), Lib->VersionText; }
    void Quit() override { Step("Quit"); }
    Ptr<IPlaylistCollection> Playlists() override { return Give<Application>("Playlists"); }
    int Count() override { return Step("PlaylistCount"), int(Lib->Playlists.size()); }
    Ptr<IPlaylist> Item(int index) override {
        const bool none = Step("PlaylistItem", {index});
        return none ? nullptr : std::make_shared<PlaylistObject>(Lib, At(index, Lib->Playlists.size()));
    }
};

} // namespace

bool ScriptedITunes::Step(const QString& op, const QJsonArray& args) {
    Calls.push_back({op, args});
    const auto n = std::ranges::count_if(Calls, [&](const Call& c) { return c.Op == op; });
    bool none = false;
    for (const Failure& f : Failures)
        if (f.Op == op && (f.Call == 0 || f.Call == n)) {
            if (f.Cancel && OnCancel)
                OnCancel();
            if (!f.Message.isEmpty())
                throw Error(f.Message);
            none = none || f.None;
        }
    return none;
}

std::shared_ptr<IApplication> ScriptedITunes::CreateApplication() {
    // The library playlist is in place before any playlist object holds an index.
    return Step("CreateApplication") ? nullptr : (Library(*this), std::make_shared<Application>(this));
}

QString ScriptedITunes::Load(const QJsonObject& json) {
    Tracks.clear(), Playlists.clear(), Failures.clear();
    for (const QJsonValue& t : json["tracks"].toArray())
        Tracks.push_back({t["name"].toString(), t["location"].toString(), t["rating"].toInt(), t["played"].toInt(),
                          t["artwork"].toInt()});
    for (const QJsonValue& p : json["playlists"].toArray()) {
        Playlist& list = Playlists.emplace_back(
            Playlist{p["name"].toString(), p["kind"].toInt(KindUser), p["special"].toInt(), p["smart"].toBool()});
        for (const QJsonValue& name : p["tracks"].toArray()) {
            list.Tracks.push_back(IndexOf(Tracks, [&](const Track& t) { return t.Name == name.toString(); }));
            if (list.Tracks.back() == int(Tracks.size()))
                return QString("playlist \"%1\" names no track \"%2\"").arg(list.Name, name.toString());
        }
    }
    Library(*this);
    AddPolls = json["addpolls"].toInt(), VersionText = json["version"].toString(VersionText);
    for (const QJsonValue& f : json["failures"].toArray()) {
        if (f["op"].toString().isEmpty())
            return "a failure names no operation";
        Failures.push_back(
            {f["op"].toString(), f["call"].toInt(), f["message"].toString(), f["none"].toBool(), f["cancel"].toBool()});
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
        playlists.append(QJsonObject{
            {"name", p.Name}, {"kind", p.Kind}, {"special", p.SpecialKind}, {"smart", p.Smart}, {"tracks", names}});
    }
    return {{"tracks", tracks}, {"playlists", playlists}};
}

std::vector<ScriptedITunes::Call> ScriptedITunes::CallsOf(const QString& op) const {
    auto matching = Calls | std::views::filter([&](const Call& c) { return c.Op == op; });
    return {matching.begin(), matching.end()};
}

} // namespace doubles
