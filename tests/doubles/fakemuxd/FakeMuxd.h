#pragma once
// A stand-in for usbmuxd and the devices behind it, for tests of the libimobiledevice binding:
// the usbmuxd plist protocol on a UNIX socket (point USBMUXD_SOCKET_ADDRESS at "UNIX:" + the
// path), a lockdown service that starts its sessions over TLS, and an AFC service over a folder.
// Everything runs on threads of the test process.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakemuxd {

// Folder is served by com.apple.afc; a trusted device accepts the stored pair record, one that
// forgot the host refuses it; PullAt names the lockdown request on whose arrival the device is
// pulled out, DropAt one on whose first arrival it ends that connection and stays. The
// DropRecordRead-th read of its pair record gets no answer: usbmuxd closes that connection.
struct DeviceSetup {
    std::string Udid, Folder, Version = "16.4", PullAt = {}, DropAt = {};
    bool Trusted = true, ForgotHost = false;
    int DropRecordRead = 0;
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
    // While set, AFC reads get no answer; dropped, they end their connection without one, as
    // the host sees it once it stopped waiting.
    void StallReads(bool stall, bool drop = false) {
        std::lock_guard<std::mutex> lock(FLock);
        FStall = stall;
        FDrop = drop;
        FStallEnd.notify_all();
    }
    // How often a lockdown request ("Pair", "ValidatePair", "StartSession", ...) or a usbmuxd
    // message ("SavePairRecord", ...) arrived.
    int Count(const std::string& request) {
        std::lock_guard<std::mutex> lock(FLock);
        return FCounts[request];
    }
    // Waits until it has arrived more than `times` times; false when that took over 20 s.
    bool WaitForMore(const std::string& request, int times) {
        std::unique_lock<std::mutex> lock(FLock);
        return FCounted.wait_for(lock, std::chrono::seconds(20), [&] { return FCounts[request] > times; });
    }

private:
    struct Device;
    struct Client;
    void Accept();
    void Serve(std::shared_ptr<Client> c);
    void Lockdown(std::shared_ptr<Client> c, std::shared_ptr<Device> d);
    void Afc(std::shared_ptr<Client> c, std::shared_ptr<Device> d);
    void Broadcast(void* message); // a plist, freed
    void Pull(std::shared_ptr<Device> d);

    std::string FPath;
    int FListen = -1;
    std::mutex FLock;
    std::condition_variable FStallEnd, FCounted;
    bool FStall = false, FDrop = false, FStopping = false;
    std::map<int, std::shared_ptr<Device>> FDevices, FPorts; // by id, and by a started service's port
    std::vector<std::shared_ptr<Client>> FClients, FListeners;
    std::vector<std::thread> FThreads;
    std::map<std::string, int> FCounts;
    int FNextId = 1, FNextPort = 50000;
};

} // namespace fakemuxd
