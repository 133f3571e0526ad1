// The iTunes export stage of the copy thread. No iTunes exists on this platform, so creating
// its application object always fails; the stage reports that as a failed start, sets the
// failure flag the summary shows, and does nothing else.
#include "transfer/CopyThread.h"

namespace app {

namespace {
// Why the application object cannot be created here.
constexpr const char* ITunesMissingReason = "iTunes is not installed on this computer";
} // namespace

void TCopyThread::AddToITunes() {
    // The count line is written in every case.
    DetailLog.Append(QString::number(FMusicCopied) + u'/' + QString::number(FMusicCount));
    if (FMusicCopied < 1)
        return;
    Synchronize(&TCopyThread::ShowITunesStart);
    FITunesFailed = true;
    DetailLog.Append(QStringLiteral("[X]Cannot start iTunes (requires iTunes 7.5 or later),\r\nReason: ") +
                     QLatin1String(ITunesMissingReason));
}

} // namespace app
