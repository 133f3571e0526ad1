#pragma once
// ipod-dump's commands register themselves here; main.cpp dispatches on the first argument.
#include <QJsonObject>
#include <QStringList>
#include <functional>

namespace dump {

using Command = std::function<int(const QStringList& args)>;

struct Registration {
    Registration(const char* name, const char* usage, Command run);
};

// Prints one JSON object as a line on stdout.
void PrintJson(const QJsonObject& object);

// --handheld: ROOT served as the file system of a simulated phone through the link (the
// simulated library beside this program); false, with a message, when it is not ready.
bool ConnectSimulatedPhone(const QString& root);
void DisconnectSimulatedPhone();

// --fake-usbmuxd: serves ROOT (its var/mobile/Media) as one trusted device of a usbmuxd
// stand-in on a private socket, and points the link at the real libimobiledevice binding. Call
// before connecting; false, with a message, when this build has no stand-in.
bool StartFakeUsbmuxd(const QString& root);
bool FakeUsbmuxdStarted();
// Lets the link's events arrive until the device is ready; false, with a message, when not.
bool WaitForRealPhone();

} // namespace dump
