#pragma once
// iTunes' automation interface, by the roles the export uses. Collections are 1-based, as in
// iTunes. An operation that fails throws Error; an operation documented to return "none"
// returns an empty pointer. Every object is used and released on the thread that created the
// application object, between Initialize and Uninitialize.
#include <QString>
#include <memory>
#include <stdexcept>

namespace platform::itunes {

class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()), Text(message) {}
    const QString& Message() const { return Text; }

private:
    QString Text;
};

// Playlist kinds and special kinds as iTunes reports them.
enum PlaylistKind { KindLibrary = 1, KindUser = 2 };
enum SpecialKind { SpecialNone = 0 };

class IArtworkCollection {
public:
    virtual ~IArtworkCollection() = default;
    virtual int Count() = 0;
};

class ITrack {
public:
    virtual ~ITrack() = default;
    virtual void SetRating(int rating) = 0;
    virtual void SetPlayedCount(int count) = 0;
    virtual std::shared_ptr<IArtworkCollection> Artwork() = 0;
    virtual void AddArtworkFromFile(const QString& path) = 0;
};

class ITrackCollection {
public:
    virtual ~ITrackCollection() = default;
    virtual int Count() = 0;
    virtual std::shared_ptr<ITrack> Item(int index) = 0;
    // None when no track has that name.
    virtual std::shared_ptr<ITrack> ItemByName(const QString& name) = 0;
};

// What an add request answers while iTunes imports in the background.
class IAddStatus {
public:
    virtual ~IAddStatus() = default;
    virtual bool InProgress() = 0;
    virtual std::shared_ptr<ITrackCollection> Tracks() = 0;
};

class IUserPlaylist {
public:
    virtual ~IUserPlaylist() = default;
    virtual bool Smart() = 0;
    virtual int SpecialKind() = 0;
    // None when iTunes gives no status for the request.
    virtual std::shared_ptr<IAddStatus> AddFile(const QString& path) = 0;
};

class IPlaylist {
public:
    virtual ~IPlaylist() = default;
    virtual int Kind() = 0;
    virtual QString Name() = 0;
    virtual std::shared_ptr<ITrackCollection> Tracks() = 0;
    // The same playlist as a user playlist; throws Error when it is not one.
    virtual std::shared_ptr<IUserPlaylist> AsUserPlaylist() = 0;
};

class ILibraryPlaylist {
public:
    virtual ~ILibraryPlaylist() = default;
    // None when iTunes gives no status for the request.
    virtual std::shared_ptr<IAddStatus> AddFile(const QString& path) = 0;
};

class IPlaylistCollection {
public:
    virtual ~IPlaylistCollection() = default;
    virtual int Count() = 0;
    // None for an entry that iTunes does not hand out.
    virtual std::shared_ptr<IPlaylist> Item(int index) = 0;
};

class ISource {
public:
    virtual ~ISource() = default;
    virtual std::shared_ptr<IPlaylistCollection> Playlists() = 0;
};

class IApplication {
public:
    virtual ~IApplication() = default;
    virtual std::shared_ptr<ILibraryPlaylist> LibraryPlaylist() = 0;
    virtual std::shared_ptr<ISource> LibrarySource() = 0;
    // None when iTunes creates nothing.
    virtual std::shared_ptr<IPlaylist> CreatePlaylist(const QString& name) = 0;
    virtual QString Version() = 0;
    virtual void Quit() = 0;
};

// The binding: the per-thread set-up of the automation system, the application object, and
// the waits of the export (kept here so that a scripted iTunes can skip them).
class IComponent {
public:
    virtual ~IComponent() = default;
    virtual void Initialize() = 0;
    virtual void Uninitialize() = 0;
    // Throws Error with the reason when iTunes cannot be started.
    virtual std::shared_ptr<IApplication> CreateApplication() = 0;
    virtual void Sleep(int milliseconds) = 0;
};

// The binding of this platform.
IComponent& SystemComponent();

} // namespace platform::itunes
