#include "platform/MachineSettings.h"

#include <QFile>

namespace platform {

namespace {

const QByteArray kRootPrefix = "HKEY_LOCAL_MACHINE\\";

// Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const QByteArray& line, qsizetype& pos, QByteArray& out) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '\\' && pos + 1 < line.size()) {
            out += line[++pos];
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

QByteArray NormaliseKey(QByteArray key) {
    key = key.trimmed().toLower();
    while (key.endsWith('\\'))
        key.chop(1);
    return key;
}

// Walks the store: for the wanted key, calls found(name, valueText) for each value line.
// Returns whether the key has a section.
template <typename Visit>
bool VisitKey(const QByteArray& key, Visit found) {
    QFile file(MachineSettingsPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = NormaliseKey(kRootPrefix + key);
    bool inKey = false, seen = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            inKey = NormaliseKey(line.mid(1, line.size() - 2)) == wanted;
            seen = seen || inKey;
            continue;
        }
        if (!inKey)
            continue;
        QByteArray name;
        qsizetype pos = 0;
        if (line.startsWith('@'))
            pos = 1;
        else if (!ReadQuoted(line, pos, name))
            continue;
        if (pos >= line.size() || line[pos] != '=')
            continue;
        found(name, line.mid(pos + 1));
    }
    return seen;
}

} // namespace

QString MachineSettingsPath() {
    const QByteArray env = qgetenv("MARROWGATE_MACHINE_SETTINGS");
    return env.isEmpty() ? QStringLiteral("/etc/marrowgate/machine.reg") : QFile::decodeName(env);
}

bool MachineKeyExists(const QByteArray& key) {
    return VisitKey(key, [](const QByteArray&, const QByteArray&) {});
}

std::optional<MachineValue> ReadMachineValue(const QByteArray& key, const QByteArray& name) {
    std::optional<MachineValue> result;
    VisitKey(key, [&](const QByteArray& valueName, const QByteArray& text) {
        if (valueName.compare(name, Qt::CaseInsensitive) != 0)
            return;
        MachineValue value;
        qsizetype pos = 0;
        if (text.startsWith('"')) {
            if (ReadQuoted(text, pos, value.Text))
                value.Type = MachineValueType::String;
        } else if (text.startsWith("dword:")) {
            bool ok = false;
            value.Number = text.mid(6).toUInt(&ok, 16);
            if (ok)
                value.Type = MachineValueType::Dword;
        }
        result = value;
    });
    return result;
}

} // namespace platform
