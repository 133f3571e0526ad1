#include "device/ThumbExport.h"

#include "device/JpegWriter.h"
#include "device/PhotoDb.h"
#include "device/PixelDecode.h"
#include "handheld/Iphone.h"
#include "platform/Errors.h"
#include "platform/FileCompare.h"
#include "platform/FileCopy.h"
#include "platform/Files.h"
#include "platform/SafeWrite.h"
#include "platform/StagedFiles.h"

#include <QSet>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace device {

qint64 ReadHandheldSome(qint64 offset, char* dest, qint64 count) {
    quint32 delivered = 0;
    return handheld::DeviceReadAt(quint32(count), dest, offset, &delivered) ? qint64(delivered) : -1;
}

bool ReadHandheldAt(qint64 offset, char* dest, qint64 count) {
    // The link may hand over an image in pieces; a piece of 0 bytes is the end of the file,
    // and an image that the file does not hold in full is a failed read.
    return platform::ReadExactly(ReadHandheldSome, offset, dest, count);
}

namespace {

class DiskContainer : public ThumbContainer {
public:
    explicit DiskContainer(std::unique_ptr<QFile> file) : File(std::move(file)), Length_(File->size()) {}
    bool ReadAt(qint64 offset, char* dest, qint64 count) override {
        if (offset < 0 || count < 0 || offset > Length_ || count > Length_ - offset || !File->seek(offset))
            return false;
        qint64 done = 0;
        while (done < count) {
            const qint64 n = File->read(dest + done, count - done);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    qint64 Length() const override { return Length_; }

private:
    std::unique_ptr<QFile> File;
    qint64 Length_;
};

class HandheldContainer : public ThumbContainer {
public:
    ~HandheldContainer() override { handheld::DeviceCloseFile(); }
    bool ReadAt(qint64 offset, char* dest, qint64 count) override {
        if (offset < 0 || count < 0 || count > MaxImageBytes)
            return false;
        return ReadHandheldAt(offset, dest, count);
    }
};

} // namespace

bool ThumbContainer::ReadAt(qint64 offset, QByteArray& dest, qint64 count) {
    if (count < 0 || count > MaxImageBytes)
        return false;
    // Refuse before allocating when the container is known to be shorter.
    const qint64 length = Length();
    if (length >= 0 && (offset < 0 || offset > length || count > length - offset))
        return false;
    dest.resize(qsizetype(count));
    return ReadAt(offset, dest.data(), count);
}

std::unique_ptr<ThumbContainer> OpenDiskContainer(const QString& path) {
    try {
        return std::make_unique<DiskContainer>(platform::OpenReadOnly(path));
    } catch (const platform::EFOpenError&) {
        return nullptr;
    }
}

std::unique_ptr<ThumbContainer> OpenHandheldContainer(const QByteArray& path, QByteArray& error) {
    if (!handheld::DeviceOpenFile(path)) {
        error = handheld::DeviceLastError();
        return nullptr;
    }
    return std::make_unique<HandheldContainer>();
}

bool SaveExportFile(const QString& path, const QByteArray& bytes, bool replace) {
    if (platform::WriteFileSafely(path, bytes, replace))
        return true;
    if (errno == EEXIST && !replace)
        return false;
    throw platform::EFOpenError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, platform::LastErrorText()));
}

QString NumberedPhotoName(const QString& name, qint64 n) {
    return n == 0 ? name : QString::number(n) + u'_' + name;
}

QByteArray ContainerName(int32_t id, int32_t fileNo) {
    return "F" + QByteArray::number(id) + "_" + QByteArray::number(fileNo) + ".ithmb";
}

std::vector<int32_t> ContainersToVisit(int32_t fileCount, const std::vector<int32_t>& used) {
    std::vector<int32_t> numbers;
    if (fileCount <= MaxProbedContainers) {
        for (int32_t n = 1; n <= fileCount; ++n)
            numbers.push_back(n);
        return numbers;
    }
    const std::set<int32_t> distinct(used.begin(), used.end());
    for (const int32_t n : distinct)
        if (n >= 1 && n <= fileCount)
            numbers.push_back(n);
    return numbers;
}

namespace {

// Photos queued between two threads of the export: enough to ride out a thread that the
// scheduler keeps waiting on a busy machine.
constexpr size_t PipelineDepth = 8;

// A bounded queue between two threads of the export. Close wakes both sides for good.
template <class T>
class Channel {
public:
    explicit Channel(size_t capacity) : Capacity(capacity) {}
    bool Push(T value) {
        std::unique_lock lock(Mutex);
        NotFull.wait(lock, [&] { return Closed || Items.size() < Capacity; });
        if (Closed)
            return false;
        Items.push_back(std::move(value));
        NotEmpty.notify_one();
        return true;
    }
    std::optional<T> Pop() {
        std::unique_lock lock(Mutex);
        NotEmpty.wait(lock, [&] { return Closed || !Items.empty(); });
        if (Closed)
            return std::nullopt;
        T value = std::move(Items.front());
        Items.pop_front();
        // A waiting producer is woken once half is free, so that it runs in bursts and a late
        // wake-up still finds work queued for the consumer.
        if (Items.size() <= Capacity / 2)
            NotFull.notify_one();
        return value;
    }
    void Close() {
        std::lock_guard lock(Mutex);
        Closed = true;
        NotFull.notify_all();
        NotEmpty.notify_all();
    }

private:
    const size_t Capacity;
    std::mutex Mutex;
    std::condition_variable NotFull, NotEmpty;
    std::deque<T> Items;
    bool Closed = false;
};

// What one photo's read gives: a picture to encode, or bytes written as they are; neither
// when the image could not be read.
struct Decoded {
    QImage Picture;
    QByteArray Bytes;
};

// One step of the export, in the order the sequential walk takes them.
struct Step {
    QByteArray LogLine;    // a container that could not be opened
    int32_t Container = 0; // and its number
    TPhotoItem* Photo = nullptr;
    QString Path; // the photo's output file
    QImage Picture;
    QByteArray Bytes;         // the file, empty when nothing is written
    std::exception_ptr Error; // raised where the walk had reached
    bool End = false;
};

// The files of the export in their folder, moved into place together at the end. A file
// already there stands for a photo only when it holds the photo's bytes; otherwise the photo
// takes the first numbered name that is free or holds them. Names given to this export's
// files are not asked again: each photo gets a file of its own.
class FolderSink : public ExportSink {
public:
    void Put(const QString& path, const QByteArray& bytes, QString& placed) override {
        const qsizetype slash = path.lastIndexOf(u'/');
        if (!Files) {
            Prefix = path.left(slash + 1);
            Files = std::make_unique<platform::StagedFiles>(
                platform::FolderOf(path),
                [this](size_t entry, const QString& taken, bool same) { return Clashed(entry, taken, same); });
        }
        Entry entry{path.mid(slash + 1), 0, &placed};
        for (;; ++entry.N) {
            const QString name = NumberedPhotoName(entry.Name, entry.N);
            if (Taken.contains(name))
                continue;
            const QString full = Prefix + name;
            if (!platform::EntryExists(full))
                break;
            if (platform::FileHolds(full, bytes)) {
                placed = full;
                return;
            }
        }
        const QString name = NumberedPhotoName(entry.Name, entry.N);
        if (!Files->Stage(name, bytes))
            Raise(Prefix + name);
        Taken.insert(name);
        Staged.push_back(entry);
    }
    void Finish() override {
        if (!Files)
            return;
        QString failed;
        const bool committed = Files->Commit(failed);
        for (size_t i = 0; i < Staged.size(); ++i)
            if (const QString name = Files->Placed(i); !name.isEmpty())
                *Staged[i].Placed = Prefix + name;
        if (!committed)
            Raise(Prefix + failed);
    }

private:
    struct Entry {
        QString Name; // the photo's own name
        qint64 N;     // the number of the name it is staged under
        QString* Placed;
    };

    // A file that appeared under a staged name since Put looked.
    QString Clashed(size_t entry, const QString&, bool sameBytes) {
        if (sameBytes)
            return {};
        Entry& e = Staged[entry];
        while (Taken.contains(NumberedPhotoName(e.Name, ++e.N)))
            ;
        const QString next = NumberedPhotoName(e.Name, e.N);
        Taken.insert(next);
        return next;
    }

    [[noreturn]] static void Raise(const QString& path) {
        throw platform::EFOpenError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path, platform::LastErrorText()));
    }

    std::unique_ptr<platform::StagedFiles> Files;
    QString Prefix;
    QSet<QString> Taken;
    std::vector<Entry> Staged;
};

// The loop that every exporter shares: each container of the large format in turn, and in it
// every selected photo, whose image `decode` reads. A reading thread opens the containers and
// decodes the next photos while an encoding thread makes the JPEG of the current one, and the
// calling thread writes the files, appends the log and reports progress, all in the walk's
// order, so that everything it does is what the one-thread walk did.
class ExportLoop {
public:
    ExportLoop(TPhotoDb& db, const char* missingText) : Db(db), MissingText(missingText) {}

    template <class Fn>
    bool Run(ExportSink& sink, Fn decode) {
        Db.MissingContainers.clear();
        for (int i = 0; i < Db.Photos.Count(); ++i)
            if (TPhotoItem* photo = Db.Photos.GetItem(i); photo->Selected)
                Selected.push_back(photo);
        Channel<Step> decoded(PipelineDepth), encoded(PipelineDepth);
        bool result = false;
        {
            // Joined on every way out, also when a thread cannot be started; closing the
            // channels first frees a thread that waits on one.
            struct Threads {
                Channel<Step>& A;
                Channel<Step>& B;
                std::thread Reader, Encoder;
                ~Threads() {
                    A.Close();
                    B.Close();
                    for (std::thread* t : {&Reader, &Encoder})
                        if (t->joinable())
                            t->join();
                }
            } threads{decoded, encoded, {}, {}};
            threads.Reader = std::thread([&] { Read(decoded, decode); });
            threads.Encoder = std::thread([&] { Encode(decoded, encoded); });
            try {
                for (;;) {
                    std::optional<Step> step = encoded.Pop();
                    if (step->Error)
                        std::rethrow_exception(step->Error);
                    if (step->End)
                        break;
                    if (!step->LogLine.isEmpty()) {
                        Db.Log += step->LogLine;
                        Db.MissingContainers.push_back(step->Container);
                        result = true;
                        continue;
                    }
                    if (!step->Bytes.isEmpty())
                        sink.Put(step->Path, step->Bytes, step->Photo->DestPath);
                    if (Db.OnProgress)
                        Db.OnProgress();
                }
            } catch (...) {
                // The files written so far go into place, as each would have been before the
                // failure, which is the one reported.
                decoded.Close();
                encoded.Close();
                try {
                    sink.Finish();
                } catch (const std::exception&) {
                }
                throw;
            }
        }
        sink.Finish();
        return result;
    }

private:
    template <class Fn>
    void Read(Channel<Step>& out, Fn& decode) {
        try {
            for (const int32_t n : ContainerNumbers()) {
                QByteArray logLine;
                std::unique_ptr<ThumbContainer> container = Open(n, logLine);
                if (!container) {
                    Step missing;
                    missing.LogLine = logLine;
                    missing.Container = n;
                    if (!out.Push(std::move(missing)))
                        return;
                    continue;
                }
                for (TPhotoItem* photo : Selected) {
                    if (photo->FileNo != n)
                        continue;
                    // Made also when a file of the name is there: only its bytes tell whether
                    // it is this photo's.
                    Step step;
                    step.Photo = photo;
                    step.Path = Db.OutputFolder + QString::number(photo->ImageId) + QStringLiteral(".jpg");
                    Decoded d = decode(*container, *photo);
                    step.Picture = std::move(d.Picture);
                    step.Bytes = std::move(d.Bytes);
                    if (!out.Push(std::move(step)))
                        return;
                }
            }
            Step end;
            end.End = true;
            out.Push(std::move(end));
        } catch (...) {
            Step failed;
            failed.Error = std::current_exception();
            out.Push(std::move(failed));
        }
    }

    static void Encode(Channel<Step>& in, Channel<Step>& out) {
        try {
            JpegWriter jpeg;
            while (std::optional<Step> step = in.Pop()) {
                const bool last = step->End || step->Error;
                if (!step->Picture.isNull()) {
                    step->Bytes = jpeg.Encode(step->Picture);
                    step->Picture = QImage();
                }
                if (!out.Push(std::move(*step)) || last)
                    return;
            }
        } catch (...) {
            Step failed;
            failed.Error = std::current_exception();
            out.Push(std::move(failed));
        }
    }

    std::vector<int32_t> ContainerNumbers() const {
        std::vector<int32_t> used;
        for (int i = 0; i < Db.Photos.Count(); ++i)
            used.push_back(Db.Photos.GetItem(i)->FileNo);
        return ContainersToVisit(Db.Large.FileCount, used);
    }

    // Runs on the reading thread, which also closes the container (one handheld file at a
    // time); what the log gets is passed on in order.
    std::unique_ptr<ThumbContainer> Open(int32_t n, QByteArray& logLine) const {
        const QByteArray name = ContainerName(Db.Large.Id, n);
        const QByteArray prefix = QByteArray::number(Db.Large.Id) + "_" + QByteArray::number(n);
        if (Db.HandheldFlag) {
            QByteArray error;
            auto container = OpenHandheldContainer("/Photos/Thumbs/" + name, error);
            if (!container)
                logLine = prefix + " :ip-" + error + "\r\n";
            return container;
        }
        const QString path = QString::fromUtf8(Db.Root + "/Photos/Thumbs/" + name);
        std::unique_ptr<ThumbContainer> container;
        if (platform::FileExists(path))
            container = OpenDiskContainer(path);
        if (!container)
            logLine = prefix + MissingText + "\r\n";
        return container;
    }

    TPhotoDb& Db;
    const char* MissingText;
    std::vector<TPhotoItem*> Selected;
};

// Pictures decoded into a few images in turn: one is written while the encoder still holds
// the ones before it, and an image still held is copied on write rather than changed.
class ImageRing {
public:
    ImageRing(int width, int height) {
        for (QImage& image : Images)
            image = QImage(width, height, QImage::Format_RGB888);
    }
    QImage& Next() { return Images[Turn++ % Images.size()]; }

private:
    std::array<QImage, PipelineDepth + 4> Images;
    size_t Turn = 0;
};

} // namespace

bool TPhotoDb::ExportThumbs(bool aspect, ExportSink* sink) {
    for (int i = 0; i < Photos.Count(); ++i)
        Photos.GetItem(i)->DestPath.clear();
    std::unique_ptr<FolderSink> files;
    if (!sink) {
        files = std::make_unique<FolderSink>();
        sink = files.get();
    }
    switch (Large.Id) {
    case FormatUyvy: return ExportUyuvThumbs(aspect, *sink);
    case FormatRgb565BigEndian: BuildBitmapHeader(false); return ExportNrgbThumbs(*sink);
    case FormatPlanarYuv: return ExportYuvsThumbs(*sink);
    case FormatJpegData: return ExportPhotoThumbs(*sink);
    default: BuildBitmapHeader(false); return ExportRgbThumbs(*sink);
    }
}

bool TPhotoDb::ExportRgbThumbs(ExportSink& sink) {
    QByteArray pixels, file;
    const TBitmapHeader header = BmpHeader;
    return ExportLoop(*this, " :RGB file not found.")
        .Run(sink, [&](ThumbContainer& container, const TPhotoItem& photo) {
            Decoded d;
            // A size of 0 would be no picture at all.
            if (Large.Size > 0 && container.ReadAt(photo.LargeOffset, pixels, Large.Size)) {
                file.clear();
                file.append(reinterpret_cast<const char*>(header.data()), BitmapHeaderSize);
                file.append(pixels);
                d.Picture = DecodeBitfieldBitmap(file);
            }
            return d;
        });
}

bool TPhotoDb::ExportNrgbThumbs(ExportSink& sink) {
    QByteArray buffer(Rgb565BigEndianBufferBytes, '\0'), file;
    const TBitmapHeader header = BmpHeader;
    const qint64 count = std::min<qint64>(Large.Size, Rgb565BigEndianBufferBytes);
    return ExportLoop(*this, " :NRgb file not found.")
        .Run(sink, [&](ThumbContainer& container, const TPhotoItem& photo) {
            Decoded d;
            if (count > 0 && container.ReadAt(photo.LargeOffset, buffer.data(), count)) {
                SwapBytes16(reinterpret_cast<uint8_t*>(buffer.data()), count);
                file.clear();
                file.append(reinterpret_cast<const char*>(header.data()), BitmapHeaderSize);
                file.append(buffer.constData(), qsizetype(count));
                d.Picture = DecodeBitfieldBitmap(file);
            }
            return d;
        });
}

bool TPhotoDb::ExportUyuvThumbs(bool aspect, ExportSink& sink) {
    ImageRing pictures(aspect ? 640 : UyvyWidth, aspect ? 480 : UyvyHeight);
    // The whole image in one read: through the handheld link that is one request, not 480.
    QByteArray image(UyvyImageBytes, '\0');
    return ExportLoop(*this, " :UYUV file not found.")
        .Run(sink, [&](ThumbContainer& container, const TPhotoItem& photo) {
            Decoded d;
            if (!container.ReadAt(photo.LargeOffset, image.data(), UyvyImageBytes))
                return d;
            const uint8_t* next = reinterpret_cast<const uint8_t*>(image.constData());
            QImage& picture = pictures.Next();
            if (aspect) {
                // Straight to the resized picture, a row at a time.
                DecodeUyvyResampled(next, picture);
            } else {
                const UyvyLineReader line = [&](uint8_t* out) {
                    std::memcpy(out, next, UyvyLineBytes);
                    next += UyvyLineBytes;
                    return true;
                };
                ReadUyuvField(line, 0, picture);
                ReadUyuvField(line, 1, picture);
            }
            d.Picture = picture;
            return d;
        });
}

bool TPhotoDb::ExportYuvsThumbs(ExportSink& sink) {
    QByteArray buffer(PlanarBufferBytes, '\0');
    ImageRing pictures(PlanarWidth, PlanarHeight);
    const qint64 count = std::min<qint64>(Large.Size, PlanarBufferBytes);
    return ExportLoop(*this, " :Yuvs file not found.")
        .Run(sink, [&](ThumbContainer& container, const TPhotoItem& photo) {
            Decoded d;
            // Bytes that a shorter image does not cover are zero, never the previous photo's.
            std::memset(buffer.data(), 0, size_t(buffer.size()));
            if (count <= 0 || !container.ReadAt(photo.LargeOffset, buffer.data(), count))
                return d;
            QImage& picture = pictures.Next();
            DecodePlanarYuv(reinterpret_cast<const uint8_t*>(buffer.constData()), picture);
            d.Picture = picture;
            return d;
        });
}

bool TPhotoDb::ExportPhotoThumbs(ExportSink& sink) {
    return ExportLoop(*this, " :Photo file not found.")
        .Run(sink, [&](ThumbContainer& container, const TPhotoItem& photo) {
            Decoded d;
            if (photo.LargeSize > 0 && !container.ReadAt(photo.LargeOffset, d.Bytes, photo.LargeSize))
                d.Bytes.clear();
            return d;
        });
}

void TPhotoDb::LoadSmallThumb(QIODevice& stream, int index, QImage& picture) {
    const TPhotoItem& photo = *Photos.GetItem(index);
    WorkStream.clear();
    if (Small.Size <= 0 || Small.Size > MaxImageBytes)
        return;
    const QByteArray header(reinterpret_cast<const char*>(BmpHeader.data()), BitmapHeaderSize);
    QByteArray pixels;
    if (stream.seek(photo.SmallOffset))
        pixels = stream.read(Small.Size);
    if (pixels.size() != Small.Size)
        throw platform::Error(QStringLiteral("Stream read error"));
    WorkStream = header + pixels;
    const QImage image = DecodeBitfieldBitmap(WorkStream);
    WorkStream.clear();
    if (!image.isNull())
        picture = image;
}

void TPhotoDb::LoadSmallThumbFromDevice(QByteArray& buffer, int index, QImage& picture) {
    const TPhotoItem& photo = *Photos.GetItem(index);
    WorkStream.clear();
    if (Small.Size <= 0 || Small.Size > MaxImageBytes)
        return;
    if (buffer.size() < Small.Size)
        buffer.resize(Small.Size);
    if (ReadHandheldAt(photo.SmallOffset, buffer.data(), Small.Size)) {
        WorkStream.append(reinterpret_cast<const char*>(BmpHeader.data()), BitmapHeaderSize);
        WorkStream.append(buffer.constData(), Small.Size);
        const QImage image = DecodeBitfieldBitmap(WorkStream);
        if (!image.isNull())
            picture = image;
    }
    WorkStream.clear();
}

bool TPhotoDb::OpenDeviceThumbFile(const QByteArray& name) {
    return handheld::DeviceOpenFile("/Photos/Thumbs/" + name);
}

bool TPhotoDb::CloseDeviceThumbFile() {
    return handheld::DeviceCloseFile();
}

} // namespace device
