#pragma once
// A scripted iTunes in memory, for tests and ipod-dump: a library of tracks and playlists, adds
// that stay in progress for a set number of polls, operations made to fail or to return none by
// their name and call number, and a record of every call in order. Waits are recorded, not
// slept.
//
// Adding a file whose location the library already holds gives that track again; a new file
// becomes a track named after the file (without its extension). The library playlist (kind 1)
// holds every track; a library without one gets "Library" in front of its playlists.
#include "platform/itunes/ITunes.h"

#include <QJsonArray>
#include <QJsonObject>
#include <functional>
#include <vector>

namespace doubles {

class ScriptedITunes final : public platform::itunes::IComponent {
public:
    struct Track {
        QString Name, Location;
        int Rating = 0, PlayedCount = 0, ArtworkCount = 0;
    };
    struct Playlist {
        QString Name;
        int Kind = platform::itunes::KindUser, SpecialKind = platform::itunes::SpecialNone;
        bool Smart = false;
        std::vector<int> Tracks = {}; // indexes into Tracks
    };
    // The Call-th call of Op (every call when 0) fails with Message, returns none, or cancels
    // (OnCancel runs once the call is recorded).
    struct Failure {
        QString Op;
        int Call = 0;
        QString Message;
        bool None = false, Cancel = false;
    };
    struct Call {
        QString Op;
        QJsonArray Args;
    };

    std::vector<Track> Tracks;
    std::vector<Playlist> Playlists;
    std::vector<Failure> Failures;
    int AddPolls = 0; // polls for which each add stays in progress
    QString VersionText = QStringLiteral("12.13.2.3");
    std::function<void()> OnCancel;

    std::vector<Call> Calls;

    // {"tracks":[{"name","rating","played","artwork","location"}],
    //  "playlists":[{"name","kind","special","smart","tracks":[track names]}],
    //  "addpolls":N, "version":TEXT,
    //  "failures":[{"op","call","message"|"none":true|"cancel":true}]}.
    // An empty text when it was read, else what is wrong with it.
    QString Load(const QJsonObject& json);
    // {"tracks":[...],"playlists":[...]} with each playlist's track names in order.
    QJsonObject LibraryJson() const;
    static QJsonObject CallJson(const Call& call) { return {{"call", call.Op}, {"args", call.Args}}; }
    std::vector<Call> CallsOf(const QString& op) const;

    void Initialize() override { Step("Initialize"); }
    void Uninitialize() override { Step("Uninitialize"), LiveAtUninitialize = Live; }
    std::shared_ptr<platform::itunes::IApplication> CreateApplication() override;
    void Sleep(int milliseconds) override { Step("Sleep", {milliseconds}); }

    // For the objects handed out: records a call and answers its scripted failure (true: none).
    bool Step(const QString& op, const QJsonArray& args = {});
    // Objects alive now, and when Uninitialize came (objects not yet released then).
    int Live = 0, LiveAtUninitialize = -1;
};

} // namespace doubles
