// Writes a sample disk-mode iPod into a folder, for the demo: a few hundred tracks with
// believable names (each a short real WAV tone, so that copying and previewing work), the
// device's playlists, album art and a photo library.
//   make-demo-device <folder>     (a folder whose name starts with "-" is given as ./-name)
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"
#include "tests/preview/TestAudio.h"

#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTemporaryDir>
#include <QtEndian>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <gst/gst.h>

using namespace fixtures;

namespace {

struct Album {
    const char* Artist;
    const char* Title;
    const char* Genre;
    std::vector<const char*> Songs;
};

// Invented artists and albums; the names only need to look like a real library.
const std::vector<Album> kAlbums = {
    {"The Lantern Keepers",
     "Northern Lights",
     "Indie",
     {"Harbour Song", "Paper Boats", "Northern Lights", "Old Town Clock", "Salt and Silver", "Lighthouse",
      "Winter Coat", "The Long Way Home", "Candle Hours", "Tidewater"}},
    {"The Lantern Keepers",
     "Quiet Engines",
     "Indie",
     {"Quiet Engines", "Signal Fires", "Kite Strings", "Down by the Rail Yard", "Glasshouse", "Seventeen Summers",
      "Ferry Lights", "Hollow Bones", "Last Tram"}},
    {"Marisol Vega",
     "Calle de la Luna",
     "Latin",
     {"Calle de la Luna", "Besos de Sal", "Noche Azul", "La Ventana", "Camino Real", "Mar Abierto", "Siete Colores",
      "Corazón de Papel", "Despedida"}},
    {"Ruben Okafor Quartet",
     "Blue Meridian",
     "Jazz",
     {"Blue Meridian", "Late Night at the Savoy", "Cobblestone Waltz", "Minor Detour", "Lagos Sunrise", "Smoke Rings",
      "The Ninth Floor", "Afterglow"}},
    {"Ruben Okafor Quartet",
     "Live at the Blue Door",
     "Jazz",
     {"Opening Vamp", "Blue Meridian (Live)", "Sugar Hill", "Brass Tacks", "A Quiet Word", "Encore: Home"}},
    {"Hollow Pines",
     "Timber & Tide",
     "Folk",
     {"Timber & Tide", "Hearthstone", "The Miller's Daughter", "River Bend", "Sparrow", "Copper Kettle", "Fieldnotes",
      "Under the Rowan Tree", "Lantern Walk", "Morning Frost", "Homeward"}},
    {"Neon Atlas",
     "Synthetic Summer",
     "Electronic",
     {"Synthetic Summer", "Chrome Horizon", "Night Drive", "Pixel Rain", "Afterhours", "Satellite Hearts",
      "Runway Lights", "Static Bloom", "Overdrive", "Low Orbit"}},
    {"Neon Atlas",
     "Parallel",
     "Electronic",
     {"Parallel", "Vector", "Magnetic", "Slow Motion City", "Tokyo Standby", "Circuit Breaker", "Glass Skyline",
      "Dawn Protocol"}},
    {"Clara Lindqvist",
     "Paper Moon Sessions",
     "Singer/Songwriter",
     {"Paper Moon", "Letters I Never Sent", "Small Hours", "Snowfall in April", "The Orchard", "Borrowed Time",
      "Lullaby for a City", "Stockholm Rain", "Kept"}},
    {"Iron Meridian",
     "Thunder Road Revival",
     "Rock",
     {"Thunder Road Revival", "Gasoline Halo", "Steel Town", "Burning Bridges", "Highway 9", "Rust & Chrome",
      "Ricochet", "Long Gone", "Midnight Engine", "Wildfire", "Last Call"}},
    {"Iron Meridian",
     "Amplified",
     "Rock",
     {"Amplified", "Fault Lines", "Black Coffee Blues", "Headlights", "Stone Cold Sober", "Outrun", "No Surrender",
      "Echo Chamber"}},
    {"Sofia Marchetti",
     "Notturno",
     "Classical",
     {"Notturno No. 1 in E minor", "Notturno No. 2 in A flat", "Intermezzo", "Barcarolle", "Romanza", "Berceuse",
      "Études: Allegro", "Études: Lento", "Finale"}},
    {"The Velvet Hours",
     "Motel Postcards",
     "Soul",
     {"Motel Postcards", "Honey Don't Go", "Sweet Static", "Ribbon Road", "Come Back Sunday", "Velvet Hours",
      "Golden Years", "Slow Dance Radio", "Neon Vacancy"}},
    {"Kenji Aoyama",
     "Tokyo Rain Diaries",
     "Ambient",
     {"Shibuya 4 AM", "Umbrella Crowd", "Tea House", "Train to Kamakura", "Cherry Petals on Asphalt", "Rooftop",
      "Vending Machine Glow", "Last Train Home"}},
    {"Big Sky Ramblers",
     "Dust & Diesel",
     "Country",
     {"Dust & Diesel", "Whiskey River", "Porch Light", "Tumbleweed Heart", "County Fair", "Pickup Truck Prayer",
      "Wide Open Sky", "Gravel Road", "Goodnight Montana"}},
    {"Aurora Fields",
     "Lightyears",
     "Pop",
     {"Lightyears", "Cherry Soda", "Polaroid", "Heartbeat Radio", "Summer Static", "Fireflies", "Glitter & Gold",
      "Don't Look Down", "Stay Up Late", "Goodbye Yellow Door"}},
    {"Aurora Fields",
     "Lightyears (Deluxe Edition)",
     "Pop",
     {"Polaroid (Acoustic)", "Fireflies (Night Mix)", "Paper Planes", "Lightyears (Reprise)"}},
    {"MC Atlas & DJ Comet",
     "Concrete Garden",
     "Hip-Hop",
     {"Concrete Garden", "Block Party", "Rhymes & Reasons", "Corner Store", "Skyline Verses", "Summer in the City",
      "Bassline Sermon", "Late Train", "Outro (Thank You)"}},
    {"Delta Reed",
     "Crossroads at Midnight",
     "Blues",
     {"Crossroads at Midnight", "Muddy Water Moan", "Juke Joint Saturday", "Hellhound Shuffle", "Smokestack Lament",
      "Cotton Road", "Gone Fishin' Blues", "Sunrise Over Clarksdale"}},
    {"Orchestra of the Seven Hills",
     "Symphonic Landscapes",
     "Soundtrack",
     {"Main Title", "The Valley", "Flight of the Heron", "Storm Front", "Homecoming", "The Great Hall", "Embers",
      "End Credits"}},
    {"Luna Park Collective",
     "Weekend Kids",
     "Alternative",
     {"Weekend Kids", "Bicycle Thief", "Neon Laundromat", "Skateboard Summer", "Radio Silence", "Cheap Sunglasses",
      "Basement Show", "Sleepwalker", "Last Bus Out"}},
    {"Amara Diallo",
     "Sahel Songs",
     "World",
     {"Sahel Wind", "Kora Morning", "Market Day", "Niger River", "Baobab", "Dusk Prayer", "Harmattan", "Homeland"}},
    {"Various Artists",
     "Coffeehouse Mornings",
     "Acoustic",
     {"Cinnamon Sky", "Window Seat", "First Snow", "Slow Sunday", "Steam & Rain", "Bookshop Girl", "Corner Table",
      "Refill", "Walk Me Home", "Mug of Stars"}},
    {"Grey Harbour",
     "Weathervane",
     "Post-Rock",
     {"Weathervane", "Distant Shores", "Fog Horn", "The Cartographer", "Breakwater", "Driftwood", "Undertow"}},
    {"Nina Castellane",
     "Cabaret Noir",
     "Vocal Jazz",
     {"Cabaret Noir", "Champagne & Regrets", "Paris After Dark", "Moonlight Matinee", "Velvet Gloves",
      "Stardust Boulevard", "One More Song", "La Dernière Danse"}},
    {"Black Pine Ensemble",
     "Field Recordings Vol. 1",
     "Instrumental",
     {"Pine Needles", "Creek Bed", "Moss", "Cabin Light", "Owl Hour", "First Light"}},
    {"Twin Comets",
     "Gravity Well",
     "Dream Pop",
     {"Gravity Well", "Sugar Clouds", "Halcyon", "Swimming Pool Eyes", "Orbit", "Soft Focus", "Marigold",
      "Daydream Nation", "Velvet Static", "Afterimage"}},
    {"Sunday Brass Band",
     "Second Line",
     "Brass",
     {"Second Line", "When the Parade Comes", "Crescent City Strut", "Bourbon Street Parade", "Mardi Gras Morning",
      "Tuba Tango", "Funeral March & Celebration"}},
    {"Harbor Lights Choir",
     "Evensong",
     "Choral",
     {"Evensong", "O Quiet Night", "The Lamp Is Lit", "Vespers", "Benediction", "Stillwater Hymn", "Candlemas",
      "Nocturne for Voices"}},
    {"Static Youth",
     "Garage Tapes",
     "Punk",
     {"Garage Tapes", "Three Chords", "Bored in the Suburbs", "Skinned Knees", "Mixtape", "No Future Tuesday",
      "Loud & Fast", "Curfew", "Vandal Hearts", "Encore Riot"}},
    {"Elena Moreau",
     "Piano Diaries",
     "Classical",
     {"Prélude in C", "Rain on the Conservatory", "Valse Triste", "Le Jardin", "Gymnopédie Blue", "Snow Étude",
      "Nocturne for Anna", "Chanson sans paroles", "Coda"}},
    {"The Midnight Drivers",
     "Interstate",
     "Synthwave",
     {"Interstate", "Neon Motel", "Cassette Dreams", "Palm Highway", "Sunset Grid", "Turbo Love", "Arcade Hearts",
      "Outrun the Dawn", "VHS Memories", "Exit 88"}},
    {"Tomás Ribeiro",
     "Fado da Madrugada",
     "Fado",
     {"Fado da Madrugada", "Alfama", "Saudade Antiga", "Rua do Desejo", "Lisboa Menina", "Barco Negro",
      "Ultimo Adeus"}},
    {"Maya Ferreira",
     "Saudade",
     "Bossa Nova",
     {"Saudade", "Rio ao Entardecer", "Barquinho", "Ipanema Sunday", "Tarde em Lisboa", "Café com Leite",
      "Samba de Verão", "Adeus"}},
};

// A short tone as a WAV file: 8-bit mono at 11025 Hz, pitched by the track's number.
QByteArray ToneWav(int index, int seconds) {
    const int rate = 11025;
    const int samples = rate * seconds;
    QByteArray out;
    auto u32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    auto u16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    out.append("RIFF");
    u32(36 + samples);
    out.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate);
    u16(1);
    u16(8);
    out.append("data");
    u32(samples);
    static const double scale[] = {261.63, 293.66, 329.63, 349.23, 392.0, 440.0, 493.88, 523.25};
    const double f1 = scale[index % 8], f2 = scale[(index / 8 + 2) % 8] * 1.5;
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / rate;
        const double env = std::min(1.0, t * 8) * std::min(1.0, (seconds - t) * 4);
        const double v = env * (0.28 * std::sin(2 * M_PI * f1 * t) + 0.14 * std::sin(2 * M_PI * f2 * t));
        out.append(char(quint8(128 + int(v * 127))));
    }
    return out;
}

// An album cover: a colour field with a few shapes, different per album.
QImage Cover(int album, int size) {
    QImage img(size, size, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const int hue = (album * 47) % 360;
    QLinearGradient g(0, 0, size, size);
    g.setColorAt(0, QColor::fromHsv(hue, 150, 230));
    g.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 200, 90));
    p.fillRect(img.rect(), g);
    p.setPen(Qt::NoPen);
    const double s = size / 100.0;
    switch (album % 4) {
    case 0:
        p.setBrush(QColor(255, 255, 255, 170));
        p.drawEllipse(QPointF(50 * s, 50 * s), 28 * s, 28 * s);
        p.setBrush(QColor::fromHsv(hue, 200, 60));
        p.drawEllipse(QPointF(50 * s, 50 * s), 6 * s, 6 * s);
        break;
    case 1:
        for (int i = 0; i < 5; ++i) {
            p.setBrush(QColor(255, 255, 255, 40 + i * 30));
            p.drawRect(QRectF((12 + i * 16) * s, (70 - i * 12) * s, 12 * s, (18 + i * 12) * s));
        }
        break;
    case 2: {
        QPainterPath hills;
        hills.moveTo(0, 80 * s);
        hills.cubicTo(30 * s, 50 * s, 60 * s, 90 * s, 100 * s, 60 * s);
        hills.lineTo(100 * s, 100 * s);
        hills.lineTo(0, 100 * s);
        p.fillPath(hills, QColor(0, 0, 0, 110));
        p.setBrush(QColor(255, 240, 200, 220));
        p.drawEllipse(QPointF(70 * s, 30 * s), 12 * s, 12 * s);
        break;
    }
    default:
        p.setPen(QPen(QColor(255, 255, 255, 150), 3 * s));
        p.setBrush(Qt::NoBrush);
        for (int i = 1; i <= 4; ++i)
            p.drawEllipse(QPointF(50 * s, 50 * s), i * 10 * s, i * 10 * s);
        break;
    }
    return img;
}

// A holiday picture: sky, hills, sun or moon, different per photo.
QImage Landscape(int seed, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const bool evening = seed % 3 == 2;
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, evening ? QColor(0x2b, 0x2d, 0x6e) : QColor(0x5d, 0x9c, 0xe6));
    sky.setColorAt(0.7, evening ? QColor(0xf0, 0x8a, 0x4b) : QColor(0xcf, 0xe6, 0xfa));
    p.fillRect(img.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(evening ? QColor(0xff, 0xd2, 0x7f) : QColor(0xff, 0xf6, 0xd0));
    p.drawEllipse(QPointF(w * (0.2 + 0.6 * ((seed * 37) % 100) / 100.0), h * 0.28), h * 0.09, h * 0.09);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hill;
        const double base = h * (0.55 + 0.13 * layer);
        hill.moveTo(0, base);
        for (int x = 0; x <= 8; ++x)
            hill.lineTo(w * x / 8.0, base - h * 0.12 * std::sin(seed * 1.7 + x * (0.9 + layer * 0.4)));
        hill.lineTo(w, h);
        hill.lineTo(0, h);
        const int green = 150 - layer * 35;
        p.fillPath(hill, seed % 4 == 1 ? QColor(0x3c + layer * 20, 0x6f - layer * 10, 0x9d - layer * 20)
                                       : QColor(40 + layer * 10, green, 60 + layer * 5));
    }
    return img;
}

// A tone in one of the device's compressed formats; empty when GStreamer lacks the encoder.
QByteArray EncodedTone(TestFormat format, int seconds) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone"));
    QFile file(path);
    if (!dir.isValid() || !WriteTestTrack(path, format, seconds) || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

int Run(const QString& folder) {
    DeviceTree tree(folder);
    tree.MakeITunesFolder();

    FixtureDb db;
    int index = 0;
    std::vector<int> albumOf;
    for (size_t a = 0; a < kAlbums.size(); ++a) {
        const Album& album = kAlbums[a];
        for (size_t s = 0; s < album.Songs.size(); ++s, ++index) {
            FixtureTrack t;
            t.TrackId = uint32_t(2000 + index);
            t.Rating = uint8_t(((index * 7) % 6) * 20);
            t.PlayCount = uint32_t((index * 13) % 40);
            const int seconds = 6 + (index * 5) % 7;
            QByteArray audio = ToneWav(index, seconds);
            QString ext = QStringLiteral("wav");
            t.KindText = QStringLiteral("WAV audio file");
            // Three tracks as MP3, AAC and Apple Lossless, so that the preview shows them too.
            struct Compressed {
                TestFormat Format;
                const char* Ext;
                const char* Kind;
            };
            static const Compressed compressed[] = {{TestFormat::Mp3, "mp3", "MPEG audio file"},
                                                    {TestFormat::Aac, "m4a", "AAC audio file"},
                                                    {TestFormat::Alac, "m4a", "Apple Lossless audio file"}};
            if (index >= 1 && index <= 3) {
                const Compressed& c = compressed[index - 1];
                const QByteArray encoded = EncodedTone(c.Format, seconds);
                if (!encoded.isEmpty()) {
                    audio = encoded;
                    ext = QLatin1String(c.Ext);
                    t.KindText = QLatin1String(c.Kind);
                }
            }
            t.Size = uint32_t(audio.size());
            t.Length = uint32_t(seconds * 1000);
            t.Title = QString::fromUtf8(album.Songs[s]);
            t.Artist = QString::fromUtf8(album.Artist);
            t.Album = QString::fromUtf8(album.Title);
            t.Genre = QString::fromUtf8(album.Genre);
            // Devices name their files with four random letters in one of fifty folders.
            QString name;
            for (int k = 0; k < 4; ++k)
                name += QChar(u'A' + (index * 7 + k * 11 + k * index) % 26);
            t.Location = QStringLiteral(":iPod_Control:Music:F%1:%2%3.%4")
                             .arg(index % 50, 2, 10, QLatin1Char('0'))
                             .arg(name)
                             .arg(index)
                             .arg(ext);
            // every album but every fifth has art
            t.HasArtwork = a % 5 != 4;
            t.DbId = 0x5EED000000ull + uint64_t(index);
            tree.WriteFile(DeviceTree::LocationPath(t.Location), audio);
            db.Tracks.push_back(t);
            albumOf.push_back(int(a));
        }
    }
    const int count = index;

    auto ids = [&](auto pick) {
        std::vector<uint32_t> out;
        for (int i = 0; i < count; ++i)
            if (pick(i))
                out.push_back(uint32_t(2000 + i));
        return out;
    };
    auto genreIs = [&](int i, std::initializer_list<const char*> genres) {
        for (const char* g : genres)
            if (db.Tracks[size_t(i)].Genre == QString::fromUtf8(g))
                return true;
        return false;
    };
    FixturePlaylist master;
    master.Master = true;
    master.Name = QStringLiteral("Marrowgate Demo iPod");
    master.TrackIds = ids([](int) { return true; });
    db.Playlists.push_back(master);
    const std::vector<std::pair<QString, std::vector<uint32_t>>> lists = {
        {QStringLiteral("Road Trip"), ids([&](int i) {
             return genreIs(i, {"Rock", "Country", "Pop", "Alternative"}) && i % 2 == 0;
         })},
        {QStringLiteral("Quiet Evenings"), ids([&](int i) {
             return genreIs(i, {"Jazz", "Ambient", "Classical", "Bossa Nova", "Vocal Jazz"});
         })},
        {QStringLiteral("Workout"), ids([&](int i) {
             return genreIs(i, {"Electronic", "Hip-Hop", "Rock"}) && i % 3 != 1;
         })},
        {QStringLiteral("Sunday Morning"), ids([&](int i) {
             return genreIs(i, {"Folk", "Acoustic", "Singer/Songwriter", "Soul"});
         })},
        {QStringLiteral("Around the World"), ids([&](int i) {
             return genreIs(i, {"Latin", "World", "Bossa Nova", "Brass"});
         })},
        {QStringLiteral("Favourites \u2605"), ids([&](int i) { return db.Tracks[size_t(i)].Rating >= 80; })},
    };
    for (const auto& [name, trackIds] : lists) {
        FixturePlaylist pl;
        pl.Name = name;
        pl.TrackIds = trackIds;
        db.Playlists.push_back(pl);
    }
    FixturePlaylist smart;
    smart.Name = QStringLiteral("Most Played");
    smart.Smart = true;
    smart.TrackIds = ids([&](int i) { return db.Tracks[size_t(i)].PlayCount >= 30; });
    db.Playlists.push_back(smart);

    tree.WriteTrackDb(WriteTrackDb(db));
    tree.WritePrefs(1);

    // Album art: one item per track with art, its album's cover in a large and a small size.
    {
        std::vector<int> withArt;
        for (int i = 0; i < count; ++i)
            if (db.Tracks[size_t(i)].HasArtwork)
                withArt.push_back(i);
        ArtSet set = MakeArtSet(1028, 1017, int(withArt.size()), false, 100,
                                [&](int item, int w, int) { return Cover(albumOf[size_t(withArt[size_t(item)])], w); });
        for (size_t k = 0; k < withArt.size(); ++k)
            set.Db.Items[k].SongDbId = db.Tracks[size_t(withArt[k])].DbId;
        WriteArtSet(tree, set, false);
    }

    // Photos: a holiday library in three albums.
    const int photoCount = 64;
    {
        PhotoSet set = MakePhotoSet(1024, 1036, photoCount, false, 20, Landscape);
        FixtureAlbum library{QStringLiteral("Photo Library"), true, {}, {}};
        FixtureAlbum summer{QStringLiteral("Summer in Provence"), true, {}, {}};
        FixtureAlbum mountains{QStringLiteral("Mountains"), true, {}, {}};
        FixtureAlbum evenings{QStringLiteral("Evenings"), true, {}, {}};
        for (int i = 0; i < photoCount; ++i) {
            library.ImageIds.push_back(uint32_t(100 + i));
            if (i < 24)
                summer.ImageIds.push_back(uint32_t(100 + i));
            if (i % 4 == 1)
                mountains.ImageIds.push_back(uint32_t(100 + i));
            if (i % 3 == 2)
                evenings.ImageIds.push_back(uint32_t(100 + i));
        }
        set.Db.Albums = {library, summer, mountains, evenings};
        WritePhotoSet(tree, set, false);
    }

    std::printf("Demo iPod written to %s: %d tracks, %zu playlists, %d photos\n", qPrintable(folder), count,
                db.Playlists.size() - 1, photoCount);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // painting the covers and photos needs the GUI side
    gst_init(nullptr, nullptr);
    const char usage[] = "usage: make-demo-device <folder>\n"
                         "Writes a sample iPod in disk mode into <folder> (created when missing).\n";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    // Anything else that looks like an option is refused, not taken for a folder name.
    if (argc != 2 || argv[1][0] == '-') {
        if (argc == 2)
            std::fprintf(stderr, "make-demo-device: unknown option %s\n", argv[1]);
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        return Run(QString::fromLocal8Bit(argv[1]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-demo-device: %s\n", e.what());
        return 1;
    }
}
