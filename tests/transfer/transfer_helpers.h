#pragma once
// A device folder mapped to a drive letter, a track database filled in memory, and one
// transfer run through the copy thread with a headless panel.
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/handheld/SimLink.h"
#include "transfer/CopyThread.h"
#include "transfer/HeadlessCopyDisplay.h"

#include <QDirIterator>
#include <memory>
#include <tuple>

namespace transfer_test {

using simtest::ReadFile;
using simtest::WriteFile;

// Every file below `folder`, relative to it and sorted, so a leftover temporary file shows.
inline QStringList AllFiles(const QString& folder) {
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

using fixtures::FileSizeLimit;

struct TransferRun {
    std::unique_ptr<app::THeadlessCopyDisplay> Display = std::make_unique<app::THeadlessCopyDisplay>();
    // Copies of the thread's fields taken in its final report.
    int MusicCopied = -1;
    bool ListSaved = false;
};

// Runs one transfer to its end on the run's panel.
inline TransferRun RunTransfer(const app::TTransferOptions& o, app::TTransferSources src, TransferRun run = {}) {
    src.Display = run.Display.get();
    auto* thread = new app::TCopyThread(o, src);
    run.Display->Thread = thread;
    // The final report runs on this thread while the copy thread waits: read its fields there.
    run.Display->OnEnded = [&run, thread] {
        std::tie(run.MusicCopied, run.ListSaved) = std::pair(thread->FMusicCopied, thread->FListSaved);
    };
    run.Display->WaitForEnd();
    return run;
}

// A run that cancels itself when the panel shows an item text beginning with `start`.
inline TransferRun CancelAt(const QString& start) {
    TransferRun run;
    run.Display->OnItem = [d = run.Display.get(), start](const QString& text) {
        if (text.startsWith(start) && d->Thread)
            d->Thread->Terminate();
    };
    return run;
}

class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const QString& folder : {DeviceRoot, Music, Pictures})
            QDir().mkpath(folder);
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{
            {'C', QStringLiteral("/"), platform::DriveFixed, {}}, {'E', DeviceRoot, platform::DriveRemovable, {}}});
        Db->OutputFolder = Music;
        std::tie(Photos->HasFullRes, Photos->OutputFolder) = std::tuple(1, Pictures);
        app::DetailLog.Clear();
    }
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }

    // A checked track whose file lies on the device (unless content is null).
    device::TTrackItem& AddTrack(const QString& title, const QString& file, const QByteArray& content,
                                 const QString& artist = {}, const QString& album = {}) {
        device::TTrackItem& t = Db->Tracks.Add();
        std::tie(t.TrackId, t.Selected, t.Title, t.Artist, t.Album) =
            std::tuple(uint32_t(Db->Tracks.Count() + 100), 1, title, artist, album);
        t.Location = QStringLiteral(":iPod_Control:Music:F00:") + file;
        if (!content.isNull())
            WriteFile(DeviceRoot + QStringLiteral("/iPod_Control/Music/F00/") + file, content);
        return t;
    }

    // A ticked full-size photo whose file lies under Photos/ on the device (unless content is null).
    void AddPhoto(const QString& fullRes, const QByteArray& content) {
        device::TPhotoItem* p = Photos->Photos.Add();
        std::tie(p->Selected, p->FullResName) = std::tuple(1, fullRes);
        if (!content.isNull())
            WriteFile(DeviceRoot + "/Photos/" + QString(fullRes).replace(':', '/'), content);
    }

    TransferRun Run(const app::TTransferOptions& o, device::TPhotoDb* photos = nullptr,
                    device::TArtworkDb* art = nullptr, TransferRun run = {}) {
        return RunTransfer(o, {Db.get(), photos, art, nullptr, ITunes}, std::move(run));
    }

    QTemporaryDir Temp;
    const QString DeviceRoot = Temp.path() + "/ipod", Music = Temp.path() + "/music/",
                  Pictures = Temp.path() + "/pictures/";
    std::unique_ptr<device::TiTunesDB> Db = std::make_unique<device::TiTunesDB>("E:", false);
    std::unique_ptr<device::TPhotoDb> Photos = std::make_unique<device::TPhotoDb>("E:", false);
    platform::itunes::IComponent* ITunes = nullptr; // the platform's own when null
};

} // namespace transfer_test
