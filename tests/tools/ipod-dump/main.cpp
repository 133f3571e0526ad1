#include "Commands.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <string>

namespace dump {
namespace {

struct Entry {
    std::string Usage;
    Command Run;
};

std::map<std::string, Entry>& Registry() {
    static std::map<std::string, Entry> registry;
    return registry;
}

} // namespace

Registration::Registration(const char* name, const char* usage, Command run) {
    Registry()[name] = Entry{usage, std::move(run)};
}

void PrintJson(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

} // namespace dump

int main(int argc, char** argv) {
    // No window is shown: a core application serves the pictures (QImage needs no display) and
    // the transfer's queued calls into the main thread, and starts faster than a GUI one.
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    auto& registry = dump::Registry();
    if (args.isEmpty() || !registry.count(args.first().toStdString())) {
        std::fprintf(stderr, "usage:\n");
        for (const auto& [name, entry] : registry)
            std::fprintf(stderr, "  ipod-dump %s\n", entry.Usage.c_str());
        return 2;
    }
    const std::string name = args.takeFirst().toStdString();
    return registry[name].Run(args);
}
