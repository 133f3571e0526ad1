#include "FakeMuxd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <plist/plist.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <utility>

namespace fakemuxd {
namespace {

constexpr int kLockdownPort = 62078;
using Items = std::initializer_list<std::pair<const char*, plist_t>>;

// One key and self-signed certificate per test process serve as the device's and the host's.
struct Identity {
    std::string KeyPem, CertPem, PublicPem;
    SSL_CTX* Tls = nullptr;
};

const Identity& Id() {
    static const Identity id = [] {
        Identity i;
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = X509_new();
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
        X509_set_pubkey(cert, key);
        X509_sign(cert, key, EVP_sha256());
        auto pem = [](auto write) {
            BIO* bio = BIO_new(BIO_s_mem());
            write(bio);
            BUF_MEM* mem = nullptr;
            BIO_get_mem_ptr(bio, &mem);
            std::string text(mem->data, mem->length);
            BIO_free(bio);
            return text;
        };
        i.KeyPem = pem([&](BIO* b) { PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); });
        i.CertPem = pem([&](BIO* b) { PEM_write_bio_X509(b, cert); });
        // The device key comes as PKCS#1, as lockdown gives it.
        i.PublicPem = pem([&](BIO* b) { PEM_write_bio_RSAPublicKey(b, EVP_PKEY_get0_RSA(key)); });
        i.Tls = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(i.Tls, cert);
        SSL_CTX_use_PrivateKey(i.Tls, key);
        SSL_CTX_set_num_tickets(i.Tls, 0);
        SSL_CTX_set_min_proto_version(i.Tls, TLS1_VERSION);
        SSL_CTX_set_cipher_list(i.Tls, "DEFAULT:@SECLEVEL=0");
        return i;
    }();
    return id;
}

plist_t Dict(Items items) {
    plist_t d = plist_new_dict();
    for (auto& [k, v] : items)
        plist_dict_set_item(d, k, v);
    return d;
}
const auto Str = [](const std::string& s) { return plist_new_string(s.c_str()); };
const auto Data = [](const std::string& s) { return plist_new_data(s.data(), s.size()); };
const auto Uint = [](uint64_t n) { return plist_new_uint(n); };

std::string Xml(plist_t p) {
    char* xml = nullptr;
    uint32_t n = 0;
    plist_to_xml(p, &xml, &n);
    std::string s(xml, n);
    free(xml);
    plist_free(p);
    return s;
}

// Missing items and items of another type read as "" and 0.
std::string Text(plist_t dict, const char* key) {
    const char* text = plist_get_string_ptr(plist_dict_get_item(dict, key), nullptr);
    return text ? text : "";
}
uint64_t Number(plist_t dict, const char* key) {
    uint64_t v = 0;
    plist_get_uint_val(plist_dict_get_item(dict, key), &v);
    return v;
}

std::string PairRecord(const std::string& hostId) {
    plist_t r = Dict({{"HostID", Str(hostId)}, {"SystemBUID", Str("FAKE-BUID")}});
    for (const char* cert : {"DeviceCertificate", "HostCertificate", "RootCertificate"})
        plist_dict_set_item(r, cert, Data(Id().CertPem));
    for (const char* key : {"HostPrivateKey", "RootPrivateKey"})
        plist_dict_set_item(r, key, Data(Id().KeyPem));
    return Xml(r);
}

plist_t Attached(int id, const DeviceSetup& setup) {
    return Dict({{"MessageType", Str("Attached")},
                 {"Properties", Dict({{"ConnectionType", Str("USB")},
                                      {"DeviceID", Uint(uint64_t(id))},
                                      {"SerialNumber", Str(setup.Udid)}})}});
}

} // namespace

struct Server::Device {
    int Id = 0;
    DeviceSetup Setup;
    int RecordReads = 0;
};

struct Server::Client {
    int Fd = -1, Device = 0; // Fd -1 once closed: the number may be reused
    std::mutex Write;
    SSL* Tls = nullptr;

    // Moves all n bytes, through TLS once a session started it.
    bool ReadFull(void* buffer, size_t n) {
        for (long got = 0; n; n -= size_t(got), buffer = static_cast<char*>(buffer) + got)
            if ((got = Tls ? SSL_read(Tls, buffer, int(n)) : ::recv(Fd, buffer, n, 0)) <= 0)
                return false;
        return true;
    }
    bool WriteFull(const std::string& packet) {
        std::lock_guard<std::mutex> lock(Write);
        const char* p = packet.data();
        for (long put = 0, n = long(packet.size()); n; n -= put, p += put)
            if ((put = Tls ? SSL_write(Tls, p, int(n)) : ::send(Fd, p, size_t(n), MSG_NOSIGNAL)) <= 0)
                return false;
        return true;
    }
    // usbmuxd framing: length, version 1, message 8 (plist), tag; then the XML.
    bool SendMux(const std::string& xml, uint32_t tag) {
        const uint32_t header[4] = {uint32_t(16 + xml.size()), 1, 8, tag};
        return WriteFull(std::string(reinterpret_cast<const char*>(header), 16) + xml);
    }
    // lockdown framing: a big-endian length, then the plist.
    bool SendPlist(plist_t p) {
        const std::string xml = Xml(p);
        const uint32_t n = htonl(uint32_t(xml.size()));
        return WriteFull(std::string(reinterpret_cast<const char*>(&n), 4) + xml);
    }
    plist_t ReceivePlist() {
        uint32_t n = 0;
        plist_t p = nullptr;
        std::string body(ReadFull(&n, 4) ? std::min(ntohl(n), 1u << 20) : 0, '\0');
        if (ReadFull(body.data(), body.size()))
            plist_from_memory(body.data(), uint32_t(body.size()), &p);
        return p;
    }
};

Server::Server(std::string socketPath) : FPath(std::move(socketPath)) {
    FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    std::strncpy(addr.sun_path, FPath.c_str(), sizeof(addr.sun_path) - 1);
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListen, 16) != 0)
        throw std::runtime_error("cannot listen on " + FPath);
    FThreads.emplace_back([this] { Accept(); });
}

Server::~Server() {
    std::unique_lock<std::mutex> lock(FLock);
    FStopping = true;
    for (auto& c : FClients)
        ::shutdown(c->Fd, SHUT_RDWR);
    FStallEnd.notify_all();
    lock.unlock();
    ::shutdown(FListen, SHUT_RDWR);
    for (auto& t : FThreads)
        t.join();
    ::close(FListen);
}

void Server::Accept() {
    for (;;) {
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard<std::mutex> lock(FLock);
        if (fd < 0 || FStopping)
            return (void)::close(fd);
        auto c = FClients.emplace_back(std::make_shared<Client>(fd));
        FThreads.emplace_back([this, c] {
            Serve(c);
            std::lock_guard<std::mutex> lock(FLock);
            SSL_free(std::exchange(c->Tls, nullptr));
            ::close(std::exchange(c->Fd, -1));
        });
    }
}

void Server::Broadcast(void* message) {
    const std::string xml = Xml(message);
    for (auto& c : FListeners) // under FLock
        c->SendMux(xml, 0);
}

int Server::Plug(const DeviceSetup& setup) {
    std::lock_guard<std::mutex> lock(FLock);
    auto d = std::make_shared<Device>(FNextId++, setup);
    FDevices[d->Id] = d;
    Broadcast(Attached(d->Id, setup));
    return d->Id;
}

void Server::Pull(std::shared_ptr<Device> d) {
    // under FLock
    if (!FDevices.erase(d->Id))
        return;
    for (auto& c : FClients)
        if (c->Device == d->Id)
            ::shutdown(c->Fd, SHUT_RDWR);
    Broadcast(Dict({{"MessageType", Str("Detached")}, {"DeviceID", Uint(uint64_t(d->Id))}}));
    FStallEnd.notify_all();
}

void Server::Unplug(int id) {
    std::lock_guard<std::mutex> lock(FLock);
    Pull(FDevices.at(id));
}

void Server::Trust(int id) {
    std::lock_guard<std::mutex> lock(FLock);
    FDevices.at(id)->Setup.Trusted = true;
    Broadcast(Dict({{"MessageType", Str("Paired")}, {"DeviceID", Uint(uint64_t(id))}}));
}

void Server::Serve(std::shared_ptr<Client> c) {
    for (;;) {
        uint32_t header[4] = {};
        std::string body(c->ReadFull(header, 16) && header[0] > 16 ? std::min(header[0], 1u << 20) - 16 : 0, '\0');
        if (body.empty() || !c->ReadFull(body.data(), body.size()))
            return;
        plist_t msg = nullptr;
        plist_from_memory(body.data(), uint32_t(body.size()), &msg);
        const std::unique_ptr<void, void (*)(plist_t)> owner(msg, plist_free);
        const std::string type = Text(msg, "MessageType");
        auto send = [&](Items items) { c->SendMux(Xml(Dict(items)), header[3]); };
        auto result = [&](uint64_t n) { send({{"MessageType", Str("Result")}, {"Number", Uint(n)}}); };
        std::unique_lock<std::mutex> lock(FLock);
        ++FCounts[type], FCounted.notify_all();
        if (type == "Listen") {
            result(0);
            FListeners.push_back(c);
            for (auto& [id, d] : FDevices)
                c->SendMux(Xml(Attached(id, d->Setup)), 0);
        } else if (type == "ReadBUID") {
            send({{"BUID", Str("FAKE-BUID")}});
        } else if (type == "ReadPairRecord") {
            const std::string udid = Text(msg, "PairRecordID");
            bool trusted = false, dropped = false;
            for (auto& [id, d] : FDevices)
                if (d->Setup.Udid == udid) {
                    trusted |= d->Setup.Trusted || d->Setup.ForgotHost;
                    dropped |= ++d->RecordReads == d->Setup.DropRecordRead;
                }
            if (dropped)
                return;
            trusted ? send({{"PairRecordData", Data(PairRecord("HOST-" + udid))}}) : result(2);
        } else if (type == "Connect") {
            // The lockdown port of a present device, or a port a service was started on.
            const int port = ntohs(uint16_t(Number(msg, "PortNumber")));
            auto it = FDevices.find(int(Number(msg, "DeviceID")));
            auto p = FPorts.find(port);
            const bool known = it != FDevices.end(), afc = known && p != FPorts.end() && p->second == it->second;
            std::shared_ptr<Device> d = known && (afc || port == kLockdownPort) ? it->second : nullptr;
            if (afc)
                FPorts.erase(p);
            c->Device = d ? d->Id : 0;
            result(d ? 0 : 3);
            lock.unlock();
            if (d)
                return afc ? Afc(c, d) : Lockdown(c, d);
        } else {
            result(1);
        }
    }
}

void Server::Lockdown(std::shared_ptr<Client> c, std::shared_ptr<Device> d) {
    DeviceSetup& setup = d->Setup;
    bool session = false, ok = true;
    for (plist_t req; ok && (req = c->ReceivePlist()); plist_free(req)) {
        const std::string name = Text(req, "Request");
        std::unique_lock<std::mutex> lock(FLock);
        ++FCounts[name], FCounted.notify_all();
        if (setup.PullAt == name)
            Pull(d); // its connections end: no answer gets through
        if (setup.DropAt == name) {
            setup.DropAt.clear();
            ::shutdown(c->Fd, SHUT_RDWR);
        }
        const plist_t record = plist_dict_get_item(req, "PairRecord");
        // A device accepts the host id of the record usbmuxd keeps for it.
        const bool trusted =
            setup.Trusted && !setup.ForgotHost && Text(record ? record : req, "HostID") == "HOST-" + setup.Udid;
        lock.unlock();
        // The answer names its request; `result` adds Result "Success".
        auto reply = [&](Items items, bool result = false) {
            plist_t r = Dict(items);
            plist_dict_set_item(r, "Request", Str(name));
            if (result)
                plist_dict_set_item(r, "Result", Str("Success"));
            return c->SendPlist(r);
        };
        auto error = [&](const char* e) { return reply({{"Error", Str(e)}}); };
        auto success = [&](Items more = {}) { return reply(more, true); };
        const std::string key = Text(req, "Key");
        if (name == "QueryType") {
            ok = reply({{"Type", Str("com.apple.mobile.lockdown")}});
        } else if (name == "GetValue" && (key == "ProductVersion" || key == "DevicePublicKey")) {
            ok = reply(
                {{"Key", Str(key)}, {"Value", key == "ProductVersion" ? Str(setup.Version) : Data(Id().PublicPem)}});
        } else if (name == "ValidatePair") {
            ok = std::atoi(setup.Version.c_str()) >= 11 || !trusted ? error("InvalidHostID") : success();
        } else if (name == "Pair") {
            ok = trusted ? success({{"EscrowBag", Data("bag")}}) : error("PairingDialogResponsePending");
        } else if (name == "StartSession" && trusted) {
            SSL* tls = SSL_new(Id().Tls);
            SSL_set_fd(tls, c->Fd);
            ok = success({{"SessionID", Str("SESSION-" + setup.Udid)}, {"EnableSessionSSL", plist_new_bool(1)}}) &&
                 SSL_accept(tls) == 1;
            lock.lock();
            c->Tls = tls; // freed with the connection when the handshake failed
            session = ok;
        } else if (name == "StopSession") {
            ok = success();
            // The host ends TLS with its close_notify and goes on in plain text; no answer to it.
            char byte;
            SSL_read(c->Tls, &byte, 1);
            lock.lock();
            SSL_free(std::exchange(c->Tls, nullptr));
            session = false;
        } else if (name == "StartService" && session && Text(req, "Service") == "com.apple.afc") {
            lock.lock();
            FPorts[FNextPort] = d;
            ok = success({{"Service", Str("com.apple.afc")}, {"Port", Uint(uint64_t(FNextPort++))}});
        } else {
            ok = error(name == "StartSession" ? "InvalidHostID" : "InvalidRequest");
        }
    }
}

namespace {
enum : uint64_t { OpStatus = 1, OpData = 2, OpFileInfo = 0x0A, OpOpen = 0x0D, OpOpenResult = 0x0E };
enum : uint64_t { OpRead = 0x0F, OpWrite = 0x10, OpSeek = 0x11, OpClose = 0x14 };
struct AfcHeader {
    char Magic[8];
    uint64_t Entire, This, Number, Operation;
};
const auto Bytes = [](uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
} // namespace

void Server::Afc(std::shared_ptr<Client> c, std::shared_ptr<Device> d) {
    std::map<uint64_t, int> files;
    uint64_t nextFile = 1;
    auto answer = [&](uint64_t number, uint64_t op, const std::string& data) {
        // Like the device, data follows the header as payload; only short answers are header data.
        const uint64_t entire = sizeof(AfcHeader) + data.size();
        const AfcHeader h{
            {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'}, entire, op == OpData ? sizeof h : entire, number, op};
        return c->WriteFull(std::string(reinterpret_cast<const char*>(&h), sizeof h) + data);
    };
    for (bool ok = true; ok;) {
        AfcHeader h;
        if (!c->ReadFull(&h, sizeof h) || std::memcmp(h.Magic, "CFA6LPAA", 8) != 0 || h.This < sizeof h ||
            h.Entire < h.This || h.Entire > (64u << 20))
            break;
        // Zeros after a short header: missing words read as 0, and the path ends.
        std::string head(std::max<uint64_t>(h.This - sizeof h, 25), '\0'), payload(h.Entire - h.This, '\0');
        if (!c->ReadFull(head.data(), h.This - sizeof h) || !c->ReadFull(payload.data(), payload.size()))
            break;
        auto word = [&](size_t at) {
            uint64_t v;
            std::memcpy(&v, head.data() + at, 8);
            return v;
        };
        const std::string path = d->Setup.Folder + (h.Operation == OpOpen ? head.c_str() + 8 : head.c_str());
        auto file = files.find(word(0));
        const bool known = file != files.end();
        auto status = [&](uint64_t code) { return answer(h.Number, OpStatus, Bytes(code)); };
        struct stat st {};
        const int flags = word(0) == 1 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
        const int fd = h.Operation == OpOpen ? ::open(path.c_str(), flags, 0644) : -1;
        if (h.Operation == OpFileInfo && ::lstat(path.c_str(), &st) == 0) {
            ok = answer(h.Number, OpData,
                        "st_size" + std::string(1, '\0') + std::to_string(st.st_size) + '\0' + "st_ifmt" + '\0' +
                            (S_ISDIR(st.st_mode) ? "S_IFDIR" : "S_IFREG") + '\0');
        } else if (fd >= 0) {
            files[nextFile] = fd;
            ok = answer(h.Number, OpOpenResult, Bytes(nextFile++));
        } else if (h.Operation == OpFileInfo || h.Operation == OpOpen) {
            ok = status(8);
        } else if (h.Operation == OpRead) {
            std::unique_lock<std::mutex> lock(FLock);
            ++FCounts["AFCRead"], FCounted.notify_all();
            FStallEnd.wait(lock, [&] { return !FStall || FDrop || !FDevices.count(d->Id) || FStopping; });
            if (FDrop || !FDevices.count(d->Id) || FStopping)
                break;
            lock.unlock();
            std::string data(known ? std::min<uint64_t>(word(8), 16u << 20) : 0, '\0');
            const long got = known ? ::read(file->second, data.data(), data.size()) : 0;
            data.resize(got > 0 ? size_t(got) : 0);
            ok = known ? answer(h.Number, OpData, data) : status(7);
        } else if (h.Operation == OpWrite) {
            ok = status(known && ::write(file->second, payload.data(), payload.size()) == long(payload.size()) ? 0 : 5);
        } else if (h.Operation == OpSeek) {
            // The file, the origin (lseek's), the offset.
            const bool moved = known && word(8) <= 2 && ::lseek(file->second, off_t(word(16)), int(word(8))) >= 0;
            ok = status(moved ? 0 : 7);
        } else if (h.Operation == OpClose) {
            ok = status(known ? (::close(file->second), files.erase(file), 0) : 7);
        } else {
            ok = status(15);
        }
    }
    for (auto& [h, fd] : files)
        ::close(fd);
}

} // namespace fakemuxd
