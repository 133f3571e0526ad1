#pragma once
// A stand-in for usbmuxd and the devices behind it, for tests of the libimobiledevice binding:
// the usbmuxd plist protocol on a UNIX socket (point USBMUXD_SOCKET_ADDRESS at "UNIX:" + the
// path), a lockdown service that starts its sessions over TLS, and an AFC service over a folder.
// Everything runs on threads of the test process.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fakemuxd {

struct DeviceSetup {
    std::string Udid;
    std::string Version = "16.4";
    bool Trusted = true; // the stored pair record is accepted
    bool Locked = false; // a passcode locks the screen: no new pairing
    std::string Folder;  // served by com.apple.afc
    std::string LockdownType = "com.apple.mobile.lockdown";
    std::string PullAt; // lockdown request on whose arrival the device is pulled out
};

class Server {
public:
    explicit Server(std::string socketPath);
    ~Server();
    std::string Address() const { return "UNIX:" + FPath; }

    int Plug(const DeviceSetup& setup);
    void Unplug(int id);
    // The user answers "Trust": usbmuxd stores the pair record and reports the device paired.
    void Trust(int id);
    // While set, AFC reads get no answer.
    void StallReads(bool stall);
    // How often a lockdown request ("Pair", "ValidatePair", "StartSession", ...) or a usbmuxd
    // message ("SavePairRecord", ...) arrived.
    int Count(const std::string& request);

private:
    struct Device;
    struct Client;
    void Accept();
    void Serve(std::shared_ptr<Client> c);
    void Lockdown(std::shared_ptr<Client> c, std::shared_ptr<Device> d);
    void Afc(std::shared_ptr<Client> c, std::shared_ptr<Device> d);
    void Broadcast(void* message); // a plist, freed
    void Pull(std::shared_ptr<Device> d);
    void Counted(const std::string& name);

    std::string FPath;
    int FListen = -1;
    std::mutex FLock;
    std::condition_variable FStallEnd;
    bool FStall = false, FStopping = false;
    std::map<int, std::shared_ptr<Device>> FDevices, FPorts; // by id, and by a started service's port
    std::set<std::string> FRecords;                          // udids with a stored pair record
    std::vector<std::shared_ptr<Client>> FClients, FListeners;
    std::vector<std::thread> FThreads;
    std::map<std::string, int> FCounts;
    int FNextId = 1, FNextPort = 50000;
};

} // namespace fakemuxd
