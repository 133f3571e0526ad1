#include "transfer/ITunesStage.h"

#include "device/ArtworkDb.h"
#include "device/TrackDb.h"
#include "platform/itunes/ITunes.h"

#include <QHash>
#include <QLocale>
#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <unordered_map>

namespace app {
namespace {

namespace itn = platform::itunes;

// Thrown at a cancel test to reach the closing steps. Not a std::exception, so that no handler
// meant for iTunes' errors takes it.
struct Cancelled {};

// Where iTunes hands back no object although it must, the step fails like any other call.
template <typename T>
std::shared_ptr<T> Need(std::shared_ptr<T> object) {
    if (!object)
        throw itn::Error(QStringLiteral("iTunes returned no object"));
    return object;
}

// A name with its case folded by the user's locale: lower case, and a letter whose capital is
// two letters (ß, the ligatures) as those two in lower case, so that "STRASSE" meets "Straße".
// Nothing else is folded: width, kana, accents and invisible characters still tell names apart.
QString FoldCase(const QLocale& locale, const QString& name) {
    const QString lower = locale.toLower(name);
    QString out;
    out.reserve(lower.size());
    for (qsizetype i = 0; i < lower.size();) {
        const qsizetype n = lower[i].isHighSurrogate() && i + 1 < lower.size() && lower[i + 1].isLowSurrogate() ? 2 : 1;
        const QString c = lower.mid(i, n);
        i += n;
        const QString upper = c[0].unicode() < 0x80 ? c : locale.toUpper(c);
        out += upper.size() > c.size() ? locale.toLower(upper) : c;
    }
    // Lower-case forms that are still two of one letter (final sigma, long s).
    return out.toCaseFolded();
}

QString MessageOf(const std::exception& e) {
    if (const auto* error = dynamic_cast<const itn::Error*>(&e))
        return error->Message();
    return QString::fromUtf8(e.what());
}

class Stage {
public:
    Stage(TITunesStageHost& host, itn::IComponent& itunes, const TITunesStageInput& in)
        : Host(host), ITunes(itunes), In(in), Tracks(in.TrackDb->Tracks), Playlists(in.TrackDb->Playlists) {}

    void Run() {
        Host.Log(QString::number(In.MusicCopied) + u'/' + QString::number(In.MusicCount));
        if (In.MusicCopied < 1)
            return;
        Host.ShowITunesStart();
        Host.SetITunesFailed(false);
        ITunes.Initialize();
        try {
            App = Need(ITunes.CreateApplication());
        } catch (const std::exception& e) {
            Host.SetITunesFailed(true);
            Host.Log(QStringLiteral("[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\nReason: ") +
                     MessageOf(e));
            ITunes.Uninitialize();
            return;
        }
        if (Host.Terminated()) {
            // iTunes stays open: the user cancelled before anything was asked of it.
            App.reset();
            ITunes.Uninitialize();
            return;
        }
        Host.StepProgress();
        Host.ShowITunesCreating();
        // A failed version read ends the stage without its block, but only after iTunes was
        // asked to quit like at the end of every run that got this far.
        std::exception_ptr versionError;
        try {
            try {
                TrackPass();
                StageNo = 2;
                Host.StepProgress();
                if (Playlists.Count() > 1)
                    PlaylistPass();
            } catch (const Cancelled&) {
            } catch (const std::exception& e) {
                Host.SetITunesFailed(true);
                QString block;
                try {
                    block = ErrorBlock(MessageOf(e));
                } catch (...) {
                    versionError = std::current_exception();
                }
                if (!versionError)
                    Host.Log(block);
            }
            ITunes.Sleep(500);
            App->Quit();
        } catch (...) {
            // A failed quit ends the stage; the references still go before the automation
            // system is shut down on this thread.
            Release();
            ITunes.Uninitialize();
            throw;
        }
        Release();
        ITunes.Uninitialize();
        Host.FillProgress();
        if (versionError)
            std::rethrow_exception(versionError);
    }

private:
    void CheckCancel() const {
        if (Host.Terminated())
            throw Cancelled{};
    }

    void Release() {
        PlaylistList.reset();
        Source.reset();
        Library.reset();
        App.reset();
    }

    void TrackPass() {
        StageNo = 1;
        Library = Need(App->LibraryPlaylist());
        for (int i = 0; i < Tracks.Count(); ++i) {
            CheckCancel();
            const device::TTrackItem& t = Tracks.GetItem(i);
            if (!t.Selected || t.DestPath.isEmpty())
                continue;
            try {
                AddToLibrary(t);
                ++AddedTracks;
            } catch (const std::exception&) {
                ITunes.Sleep(100);
            }
        }
    }

    void AddToLibrary(const device::TTrackItem& t) {
        const auto status = Library->AddFile(t.DestPath);
        if (!status) {
            ITunes.Sleep(100);
            return;
        }
        while (status->InProgress()) {
            ITunes.Sleep(300);
            CheckCancel();
        }
        const auto added = Need(status->Tracks());
        if (added->Count() <= 0)
            return;
        const auto track = Need(added->Item(1));
        if (t.Rating > 0)
            track->SetRating(t.Rating);
        // iTunes takes a signed count; a larger one from a damaged database is held at the top.
        if (t.PlayCount > 0)
            track->SetPlayedCount(int(std::min<uint32_t>(t.PlayCount, std::numeric_limits<int>::max())));
        if (In.CopyArtwork && HasExportedArt(t) && Need(track->Artwork())->Count() == 0)
            track->AddArtworkFromFile(Host.ArtBitmapPath(t.ArtIndex));
    }

    // The album-art stage wrote a bitmap for the track (its item is still marked).
    bool HasExportedArt(const device::TTrackItem& t) const {
        return t.ArtIndex >= 0 && In.ArtworkDb && t.ArtIndex < In.ArtworkDb->Arts.Count() &&
               In.ArtworkDb->Arts.GetItem(t.ArtIndex)->Selected;
    }

    void PlaylistPass() {
        StageNo = 3;
        Source = Need(App->LibrarySource());
        PlaylistList = Need(Source->Playlists());
        ITunesPlaylists = PlaylistList->Count();
        const int last = Playlists.Count() - 1;
        for (int j = 1; j <= last; ++j) {
            CheckCancel();
            const device::TPlayListItem& p = Playlists.GetItem(j);
            const bool smart = p.Smart != 0;
            std::shared_ptr<itn::IPlaylist> target = FindPlaylist(p.Name, smart);
            // iTunes fills a smart playlist by its own rules.
            if (target && smart)
                continue;
            if (!target)
                target = App->CreatePlaylist(p.Name);
            if (!target)
                continue;
            try {
                FillPlaylist(*target, p);
            } catch (const std::exception&) {
                ITunes.Sleep(100);
            }
            Host.StepProgress();
            ++HandledPlaylists;
        }
        StageNo = 4;
    }

    std::shared_ptr<itn::IPlaylist> FindPlaylist(const QString& name, bool smart) {
        const QString folded = FoldCase(Locale, name);
        const int count = PlaylistList->Count();
        for (int k = 1; k <= count; ++k) {
            auto candidate = PlaylistList->Item(k);
            if (!candidate || candidate->Kind() != itn::KindUser)
                continue;
            const auto user = Need(candidate->AsUserPlaylist());
            if (user->Smart() != smart || user->SpecialKind() != itn::SpecialNone)
                continue;
            if (Folded(candidate->Name()) == folded)
                return candidate;
        }
        return {};
    }

    void FillPlaylist(itn::IPlaylist& target, const device::TPlayListItem& p) {
        if (FirstOfId.empty()) {
            // Only the first track of an id counts. A map in place of a scan of the whole list
            // per entry, so a long playlist on a large device cannot stall the transfer.
            for (int i = 0; i < Tracks.Count(); ++i)
                FirstOfId.emplace(Tracks.GetItem(i).TrackId, i);
        }
        for (int m = 0; m < p.Count; ++m) {
            const uint32_t id = p.GetTrackId(m);
            if (Tracks.Count() > 0)
                CheckCancel();
            const auto found = FirstOfId.find(id);
            if (found == FirstOfId.end())
                continue;
            const device::TTrackItem* track = &Tracks.GetItem(found->second);
            if (!track->Selected || track->DestPath.isEmpty())
                continue;
            // A title already there is not added again, so a second export adds nothing.
            if (Need(target.Tracks())->ItemByName(track->Title))
                continue;
            const auto status = Need(target.AsUserPlaylist())->AddFile(track->DestPath);
            if (!status) {
                ITunes.Sleep(100);
                continue;
            }
            while (status->InProgress()) {
                ITunes.Sleep(100);
                CheckCancel();
            }
        }
    }

    // iTunes' names are folded once each, not once per device playlist.
    const QString& Folded(const QString& name) {
        auto at = FoldedNames.find(name);
        if (at == FoldedNames.end())
            at = FoldedNames.insert(name, FoldCase(Locale, name));
        return *at;
    }

    QString ErrorBlock(const QString& message) {
        const QString version = App->Version();
        return QStringLiteral("[X]Error occured when adding to iTunes.\r\n") + message + QStringLiteral("\r\n") +
               QString::number(StageNo) + QStringLiteral("M: ") + QString::number(AddedTracks) + u':' +
               QString::number(Tracks.Count()) + QStringLiteral("\r\nP: ") + QString::number(HandledPlaylists) + u':' +
               QString::number(Playlists.Count()) + QStringLiteral(" - ") + QString::number(ITunesPlaylists) +
               QStringLiteral("\r\nVer: ") + version + QStringLiteral("\r\n");
    }

    TITunesStageHost& Host;
    itn::IComponent& ITunes;
    const TITunesStageInput& In;
    const device::TTrackList& Tracks;
    const device::TPlayLists& Playlists;
    const QLocale Locale; // the user's, as the stage starts
    QHash<QString, QString> FoldedNames;
    std::unordered_map<uint32_t, int> FirstOfId;

    // Working values, reported only in the error block.
    int StageNo = 0;
    int AddedTracks = 0;
    int HandledPlaylists = 0;
    int ITunesPlaylists = 0;

    // iTunes' objects held across steps, all released before Uninitialize.
    std::shared_ptr<itn::IApplication> App;
    std::shared_ptr<itn::ILibraryPlaylist> Library;
    std::shared_ptr<itn::ISource> Source;
    std::shared_ptr<itn::IPlaylistCollection> PlaylistList;
};

} // namespace

void RunITunesStage(TITunesStageHost& host, platform::itunes::IComponent& itunes, const TITunesStageInput& in) {
    Stage(host, itunes, in).Run();
}

} // namespace app
