#pragma once
// The read-only machine settings store (the place of HKEY_LOCAL_MACHINE). It is a file in
// the registry-export form:
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Apple Inc.\Apple Application Support]
//   "InstallDir"="/opt/apple/support"
//   "Flags"=dword:00000001
// read from $MARROWGATE_MACHINE_SETTINGS, else /etc/marrowgate/machine.reg. Keys compare
// without regard to case, as the registry does. Nothing ever writes it.
#include <QByteArray>
#include <QString>
#include <optional>

namespace platform {

enum class MachineValueType { String, Dword, Other };

struct MachineValue {
    MachineValueType Type = MachineValueType::Other;
    QByteArray Text;    // String: the text, unescaped
    quint32 Number = 0; // Dword
};

// Whether the key exists (it has a section in the store).
bool MachineKeyExists(const QByteArray& key);
// A value under a key (key without the "HKEY_LOCAL_MACHINE\" prefix); nullopt when the key
// or the value is absent.
std::optional<MachineValue> ReadMachineValue(const QByteArray& key, const QByteArray& name);

// The path of the store file in use.
QString MachineSettingsPath();

} // namespace platform
