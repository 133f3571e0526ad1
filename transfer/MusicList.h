#pragma once
// The music-list file: every track of the device with its location and every playlist with
// its track ids, in iTunes' property-list XML form.
#include <QByteArray>
#include <QString>

namespace app {

// Text with the five XML entities (&amp; &lt; &gt; &apos; &quot;), as UTF-8.
QByteArray XmlEscape(const QString& text);

// The location of a track on a disk-mode iPod: "file://localhost" and the file's real path
// under the volume's mount point ("file://localhost/" + root + path when the drive is gone).
QString DiskTrackLocation(const QByteArray& root, const QString& location);

} // namespace app
