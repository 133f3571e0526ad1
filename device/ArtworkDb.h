#pragma once
// The device's album-art database ("ArtworkDB"): one item per artwork image with the database
// id of its song and the places of its small and large images; exports large art as bitmaps.
#include "device/PhotoDb.h"
#include "device/ThumbFormat.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>

namespace device {

struct TArtItem {
    uint8_t Selected = 0;
    uint32_t ImageId = 0;
    uint64_t SongDbId = 0; // equals TTrackItem.DbId of its track
    int32_t SmallFileNo = 0;
    uint32_t SmallOffset = 0;
    int32_t LargeFileNo = 0;
    uint32_t LargeOffset = 0;
};

using TArtList = TCollection<TArtItem>;

class TArtworkDb {
public:
    // Create: nothing is read. The window passes the drive root and false for a disk-mode iPod,
    // "D" and true for a handheld.
    TArtworkDb(const QByteArray& root, bool handheld);
    ~TArtworkDb();
    TArtworkDb(const TArtworkDb&) = delete;
    TArtworkDb& operator=(const TArtworkDb&) = delete;

    bool Load();
    // Parses database bytes already in memory, as Load does after reading the file.
    bool LoadFromData(const QByteArray& bytes);
    // The small image of Arts[index]; false on any failure (nothing raised).
    bool LoadSmallArt(int index, QImage& picture);
    // Writes the large image of every marked item as OutputFolder + index + ".bmp" (replacing
    // an existing file); returns the number written. Raises platform::Error when a file cannot
    // be written.
    int ExportArt();

    uint32_t ErrorCode = 0; // ecNotMhfd ... ecNotMhod (PhotoDb.h), 0 when loaded
    QByteArray Root;
    QString OutputFolder; // ends in "/"
    uint8_t HandheldFlag = 0;
    TThumbFormat Large;
    TThumbFormat Small;
    TArtList Arts;
    QByteArray WorkStream;
    TBitmapHeader BmpSmall{};
    TBitmapHeader BmpLarge{};
    TProgressEvent OnProgress;

    // The handheld's small format, whatever the database lists.
    static constexpr int32_t HandheldSmallId = 3006;
    static constexpr int32_t HandheldSmallSize = 6160;

private:
    bool Parse();
    bool ParseImageList(qint64 sectionPos, qint64 sectionHeaderLength, TImageDbWalk& walk);
    bool ChooseArtFormats(qint64 itemPos);
    uint32_t ParseImageItem(qint64 itemPos);
    // `child`: the data cut at the end of the child record that holds the reference at pos.
    bool ParseArtRef(const ByteView& child, qint64 pos, int type, int& found);
    static TPhotoStringRecord ReadStringRecord(const ByteView& data, qint64 pos);
    void BuildBitmapHeaders();

    QString ContainerPath(int32_t id, int32_t fileNo) const;

    QByteArray StreamData;
    ByteView Stream;
};

} // namespace device
