#include "tests/doubles/itunes/ScriptedITunes.h"

#include <QFileInfo>
#include <QJsonValue>

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

class ArtworkCollection final : public itn::IArtworkCollection, Counted {
public:
    ArtworkCollection(S* s, int track) : Counted(s), TrackNo(track) {}
    int Count() override {
        Lib->Step(QStringLiteral("ArtworkCount"), {Lib->Tracks[TrackNo].Name});
        return Lib->Tracks[TrackNo].ArtworkCount;
    }

private:
    int TrackNo;
};

class TrackObject final : public itn::ITrack, Counted {
public:
    TrackObject(S* s, int track) : Counted(s), TrackNo(track) {}
    void SetRating(int rating) override {
        Lib->Step(QStringLiteral("SetRating"), {Name(), rating});
        Lib->Tracks[TrackNo].Rating = rating;
    }
    void SetPlayedCount(int count) override {
        Lib->Step(QStringLiteral("SetPlayedCount"), {Name(), count});
        Lib->Tracks[TrackNo].PlayedCount = count;
    }
    std::shared_ptr<itn::IArtworkCollection> Artwork() override {
        if (Lib->Step(QStringLiteral("Artwork"), {Name()}))
            return {};
        return Make<ArtworkCollection>(Lib, TrackNo);
    }
    void AddArtworkFromFile(const QString& path) override {
        Lib->Step(QStringLiteral("AddArtworkFromFile"), {Name(), path});
        ++Lib->Tracks[TrackNo].ArtworkCount;
    }

private:
    QString Name() const { return Lib->Tracks[TrackNo].Name; }
    int TrackNo;
};

// A live view: the tracks of a playlist as they stand, or the tracks of one add.
class TrackCollection final : public itn::ITrackCollection, Counted {
public:
    TrackCollection(S* s, QString label, std::function<std::vector<int>()> tracks)
        : Counted(s), Label(std::move(label)), Tracks(std::move(tracks)) {}
    int Count() override {
        Lib->Step(QStringLiteral("TrackCount"), {Label});
        return int(Tracks().size());
    }
    std::shared_ptr<itn::ITrack> Item(int index) override {
        const bool none = Lib->Step(QStringLiteral("TrackItem"), {Label, index});
        const std::vector<int> tracks = Tracks();
        if (index < 1 || index > int(tracks.size()))
            throw itn::Error(QStringLiteral("Invalid index"));
        return none ? nullptr : Make<TrackObject>(Lib, tracks[size_t(index - 1)]);
    }
    std::shared_ptr<itn::ITrack> ItemByName(const QString& name) override {
        if (Lib->Step(QStringLiteral("TrackByName"), {Label, name}))
            return {};
        for (int t : Tracks())
            if (Lib->Tracks[size_t(t)].Name == name)
                return Make<TrackObject>(Lib, t);
        return {};
    }

private:
    QString Label;
    std::function<std::vector<int>()> Tracks;
};

class AddStatus final : public itn::IAddStatus, Counted {
public:
    AddStatus(S* s, int track) : Counted(s), TrackNo(track), Polls(s->AddPolls) {}
    bool InProgress() override {
        Lib->Step(QStringLiteral("InProgress"));
        return Polls-- > 0;
    }
    std::shared_ptr<itn::ITrackCollection> Tracks() override {
        if (Lib->Step(QStringLiteral("AddedTracks")))
            return {};
        const int track = TrackNo;
        return Make<TrackCollection>(Lib, QStringLiteral("added"),
                                     [track] { return std::vector<int>{track}; });
    }

private:
    int TrackNo;
    int Polls;
};

class PlaylistObject final : public itn::IPlaylist,
                             public itn::IUserPlaylist,
                             public itn::ILibraryPlaylist,
                             public std::enable_shared_from_this<PlaylistObject>,
                             Counted {
public:
    PlaylistObject(S* s, int playlist) : Counted(s), No(playlist) {}
    int Kind() override {
        Lib->Step(QStringLiteral("Kind"), {Name_()});
        return Me().Kind;
    }
    QString Name() override {
        Lib->Step(QStringLiteral("Name"), {Name_()});
        return Me().Name;
    }
    std::shared_ptr<itn::ITrackCollection> Tracks() override {
        if (Lib->Step(QStringLiteral("Tracks"), {Name_()}))
            return {};
        S* lib = Lib;
        const int no = No;
        return Make<TrackCollection>(Lib, Name_(), [lib, no] { return lib->Playlists[size_t(no)].Tracks; });
    }
    std::shared_ptr<itn::IUserPlaylist> AsUserPlaylist() override {
        if (Me().Kind != itn::KindUser)
            throw itn::Error(QStringLiteral("No such interface supported"));
        return std::shared_ptr<itn::IUserPlaylist>(shared_from_this(),
                                                   static_cast<itn::IUserPlaylist*>(this));
    }
    bool Smart() override {
        Lib->Step(QStringLiteral("Smart"), {Name_()});
        return Me().Smart;
    }
    int SpecialKind() override {
        Lib->Step(QStringLiteral("SpecialKind"), {Name_()});
        return Me().SpecialKind;
    }
    std::shared_ptr<itn::IAddStatus> AddFile(const QString& path) override {
        if (Lib->Step(QStringLiteral("AddFile"), {Name_(), path}))
            return {};
        return Make<AddStatus>(Lib, Lib->AddFile(No, path));
    }

private:
    S::Playlist& Me() { return Lib->Playlists[size_t(No)]; }
    QString Name_() { return Me().Name; }
    int No;
};

class PlaylistCollection final : public itn::IPlaylistCollection, Counted {
public:
    using Counted::Counted;
    int Count() override {
        Lib->Step(QStringLiteral("PlaylistCount"));
        return int(Lib->Playlists.size());
    }
    std::shared_ptr<itn::IPlaylist> Item(int index) override {
        if (Lib->Step(QStringLiteral("PlaylistItem"), {index}))
            return {};
        if (index < 1 || index > int(Lib->Playlists.size()))
            throw itn::Error(QStringLiteral("Invalid index"));
        return Make<PlaylistObject>(Lib, index - 1);
    }
};

class Source final : public itn::ISource, Counted {
public:
    using Counted::Counted;
    std::shared_ptr<itn::IPlaylistCollection> Playlists() override {
        if (Lib->Step(QStringLiteral("Playlists")))
            return {};
        return Make<PlaylistCollection>(Lib);
    }
};

class Application final : public itn::IApplication, Counted {
public:
    using Counted::Counted;
    std::shared_ptr<itn::ILibraryPlaylist> LibraryPlaylist() override {
        if (Lib->Step(QStringLiteral("LibraryPlaylist")))
            return {};
        return Make<PlaylistObject>(Lib, Lib->Library());
    }
    std::shared_ptr<itn::ISource> LibrarySource() override {
        if (Lib->Step(QStringLiteral("LibrarySource")))
            return {};
        return Make<Source>(Lib);
    }
    std::shared_ptr<itn::IPlaylist> CreatePlaylist(const QString& name) override {
        if (Lib->Step(QStringLiteral("CreatePlaylist"), {name}))
            return {};
        Lib->Playlists.push_back({name, itn::KindUser, itn::SpecialNone, false, {}});
        return Make<PlaylistObject>(Lib, int(Lib->Playlists.size()) - 1);
    }
    QString Version() override {
        Lib->Step(QStringLiteral("Version"));
        return Lib->VersionText;
    }
    void Quit() override { Lib->Step(QStringLiteral("Quit")); }
};

} // namespace

ScriptedITunes::ScriptedITunes() = default;
ScriptedITunes::~ScriptedITunes() = default;

bool ScriptedITunes::Step(const QString& op, const QJsonArray& args) {
    Calls.push_back({op, args});
    const int n = ++CallCounts[op];
    bool none = false;
    for (const Failure& f : Failures) {
        if (f.Op != op || (f.Call != 0 && f.Call != n))
            continue;
        if (f.Cancel && OnCancel)
            OnCancel();
        if (!f.Message.isEmpty())
            throw itn::Error(f.Message);
        none = none || f.None;
    }
    return none;
}

int ScriptedITunes::Library() {
    for (size_t i = 0; i < Playlists.size(); ++i)
        if (Playlists[i].Kind == itn::KindLibrary)
            return int(i);
    Playlists.insert(Playlists.begin(), Playlist{QStringLiteral("Library"), itn::KindLibrary, 0, false, {}});
    for (size_t t = 0; t < Tracks.size(); ++t)
        Playlists.front().Tracks.push_back(int(t));
    return 0;
}

int ScriptedITunes::AddFile(int playlist, const QString& path) {
    int track = -1;
    for (size_t t = 0; t < Tracks.size() && track < 0; ++t)
        if (!Tracks[t].Location.isEmpty() && Tracks[t].Location == path)
            track = int(t);
    if (track < 0) {
        Tracks.push_back({QFileInfo(path).completeBaseName(), path});
        track = int(Tracks.size()) - 1;
        Playlists[size_t(Library())].Tracks.push_back(track);
    }
    if (Playlists[size_t(playlist)].Kind != itn::KindLibrary)
        Playlists[size_t(playlist)].Tracks.push_back(track);
    return track;
}

void ScriptedITunes::Initialize() {
    Step(QStringLiteral("Initialize"));
}

void ScriptedITunes::Uninitialize() {
    Step(QStringLiteral("Uninitialize"));
    LiveAtUninitialize = Live;
}

std::shared_ptr<itn::IApplication> ScriptedITunes::CreateApplication() {
    if (Step(QStringLiteral("CreateApplication")))
        return {};
    Library(); // in place before any playlist object holds an index
    return Make<Application>(this);
}

void ScriptedITunes::Sleep(int milliseconds) {
    Step(QStringLiteral("Sleep"), {milliseconds});
}

QString ScriptedITunes::Load(const QJsonObject& json) {
    Tracks.clear();
    Playlists.clear();
    Failures.clear();
    for (const QJsonValue& v : json.value(QLatin1String("tracks")).toArray()) {
        const QJsonObject t = v.toObject();
        Tracks.push_back({t.value(QLatin1String("name")).toString(),
                          t.value(QLatin1String("location")).toString(),
                          t.value(QLatin1String("rating")).toInt(), t.value(QLatin1String("played")).toInt(),
                          t.value(QLatin1String("artwork")).toInt()});
    }
    for (const QJsonValue& v : json.value(QLatin1String("playlists")).toArray()) {
        const QJsonObject p = v.toObject();
        Playlist list{p.value(QLatin1String("name")).toString(),
                      p.value(QLatin1String("kind")).toInt(itn::KindUser),
                      p.value(QLatin1String("special")).toInt(),
                      p.value(QLatin1String("smart")).toBool(),
                      {}};
        for (const QJsonValue& name : p.value(QLatin1String("tracks")).toArray()) {
            int found = -1;
            for (size_t t = 0; t < Tracks.size() && found < 0; ++t)
                if (Tracks[t].Name == name.toString())
                    found = int(t);
            if (found < 0)
                return QStringLiteral("playlist \"%1\" names no track \"%2\"")
                    .arg(list.Name, name.toString());
            list.Tracks.push_back(found);
        }
        if (list.Kind == itn::KindLibrary) {
            list.Tracks.clear(); // the library holds every track
            for (size_t t = 0; t < Tracks.size(); ++t)
                list.Tracks.push_back(int(t));
        }
        Playlists.push_back(std::move(list));
    }
    Library();
    AddPolls = json.value(QLatin1String("addpolls")).toInt();
    if (json.contains(QLatin1String("version")))
        VersionText = json.value(QLatin1String("version")).toString();
    for (const QJsonValue& v : json.value(QLatin1String("failures")).toArray()) {
        const QJsonObject f = v.toObject();
        Failure failure{f.value(QLatin1String("op")).toString(), f.value(QLatin1String("call")).toInt(),
                        f.value(QLatin1String("message")).toString(), f.value(QLatin1String("none")).toBool(),
                        f.value(QLatin1String("cancel")).toBool()};
        if (failure.Op.isEmpty())
            return QStringLiteral("a failure names no operation");
        Failures.push_back(failure);
    }
    return {};
}

QJsonObject ScriptedITunes::LibraryJson() const {
    QJsonArray tracks, playlists;
    for (const Track& t : Tracks)
        tracks.append(QJsonObject{{QStringLiteral("name"), t.Name},
                                  {QStringLiteral("rating"), t.Rating},
                                  {QStringLiteral("played"), t.PlayedCount},
                                  {QStringLiteral("artwork"), t.ArtworkCount}});
    for (const Playlist& p : Playlists) {
        QJsonArray names;
        for (int t : p.Tracks)
            names.append(Tracks[size_t(t)].Name);
        playlists.append(QJsonObject{{QStringLiteral("name"), p.Name},
                                     {QStringLiteral("kind"), p.Kind},
                                     {QStringLiteral("special"), p.SpecialKind},
                                     {QStringLiteral("smart"), p.Smart},
                                     {QStringLiteral("tracks"), names}});
    }
    return {{QStringLiteral("tracks"), tracks}, {QStringLiteral("playlists"), playlists}};
}

QJsonObject ScriptedITunes::CallJson(const Call& call) {
    return {{QStringLiteral("call"), call.Op}, {QStringLiteral("args"), call.Args}};
}

std::vector<ScriptedITunes::Call> ScriptedITunes::CallsOf(const QString& op) const {
    std::vector<Call> out;
    for (const Call& c : Calls)
        if (c.Op == op)
            out.push_back(c);
    return out;
}

} // namespace doubles
