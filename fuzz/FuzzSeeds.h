#pragma once
// Seed files for the fuzz targets: scripts/fuzz.sh sets MG_FUZZ_SEED_DIR once, and each target
// writes its fixture-made databases there before the corpus is read.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace fuzzseeds {

inline void WriteSeed(const QString& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir + QLatin1Char('/') + name);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// Runs `write` with the seed folder when one is asked for.
template <typename Write>
void WriteSeedsIfAsked(Write write) {
    const QByteArray dir = qgetenv("MG_FUZZ_SEED_DIR");
    if (dir.isEmpty())
        return;
    const QString path = QString::fromLocal8Bit(dir);
    QDir().mkpath(path);
    write(path);
}

} // namespace fuzzseeds
