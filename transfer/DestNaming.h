#pragma once
// Destination names of copied tracks: safe name parts and the seven layouts.
#include <QString>

namespace app {

// The seven layouts in the order of the output page's list; the index is the stored value.
enum NamingLayout : int {
    LayoutTitle = 0,
    LayoutFolders = 1,
    LayoutArtistTitle = 2,
    LayoutTitleArtist = 3,
    LayoutArtistAlbumTitle = 4,
    LayoutTitleAlbumArtist = 5,
    LayoutTitleArtistAlbum = 6,
};

// The texts of the layout list, item index = layout.
QStringList NamingLayoutTexts();

// One text of a track as a file-name part: cut to 41 characters (a surrogate pair kept whole),
// trimmed of characters up to blank at both ends, "Unknown" + suffix when nothing is left,
// reserved and control characters as '_'.
QString MakeNamePart(const QString& value, const QString& suffix);

// Device text taken into a file name as it stands (an extension, a photo's file name): control
// characters (U+0000 to U+001F, U+007F) as '_', so that no line break or terminal escape
// reaches a listing.
QString WithoutControls(QString text);

// The destination of a track without its extension. folder ends in '/'. Every name it builds
// fits the file system's 255 bytes, a file name with room for a clash number and the extension
// (the longest parts shortened first, by whole characters). For the folder layout the artist and
// album folders are created; when they cannot be, the result is empty and *logEntry receives the
// entry for the transfer log (without its leading line break).
QString BuildDestPath(const QString& folder, int layout, const QString& title, const QString& artist,
                      const QString& album, QString* logEntry);

} // namespace app
