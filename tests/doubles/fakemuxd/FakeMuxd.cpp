#include "FakeMuxd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <plist/plist.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <stdexcept>

namespace fakemuxd {
namespace {

constexpr int kLockdownPort = 62078;

// One key and self-signed certificate per test process serve as the device's and the host's.
struct Identity {
    EVP_PKEY* Key = nullptr;
    X509* Cert = nullptr;
    std::string KeyPem, CertPem, PublicPem;
    SSL_CTX* Tls = nullptr;    // devices from iOS 10 on: TLS 1.2 and later
    SSL_CTX* Legacy = nullptr; // older devices: down to TLS 1.0 with SHA-1
};

SSL_CTX* ServerContext(EVP_PKEY* key, X509* cert, bool legacy) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    SSL_CTX_set_num_tickets(ctx, 0);
    if (legacy) {
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
        SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
    } else {
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    }
    return ctx;
}

std::string Pem(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    std::string text(data, size_t(n));
    BIO_free(bio);
    return text;
}

const Identity& Id() {
    static const Identity id = [] {
        Identity i;
        i.Key = EVP_RSA_gen(2048);
        i.Cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(i.Cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(i.Cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(i.Cert), 3600L * 24 * 365);
        X509_set_pubkey(i.Cert, i.Key);
        X509_NAME* name = X509_get_subject_name(i.Cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("fake device"), -1, -1, 0);
        X509_set_issuer_name(i.Cert, name);
        X509_sign(i.Cert, i.Key, EVP_sha256());
        BIO* b = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey(b, i.Key, nullptr, nullptr, 0, nullptr, nullptr);
        i.KeyPem = Pem(b);
        b = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(b, i.Cert);
        i.CertPem = Pem(b);
        b = BIO_new(BIO_s_mem());
        RSA* rsa = EVP_PKEY_get1_RSA(i.Key); // the device key comes as PKCS#1, as lockdown gives it
        PEM_write_bio_RSAPublicKey(b, rsa);
        RSA_free(rsa);
        i.PublicPem = Pem(b);
        i.Tls = ServerContext(i.Key, i.Cert, false);
        i.Legacy = ServerContext(i.Key, i.Cert, true);
        return i;
    }();
    return id;
}

plist_t Dict(std::initializer_list<std::pair<const char*, plist_t>> items) {
    plist_t d = plist_new_dict();
    for (auto& [k, v] : items)
        plist_dict_set_item(d, k, v);
    return d;
}
plist_t Str(const std::string& s) {
    return plist_new_string(s.c_str());
}
plist_t Data(const std::string& s) {
    return plist_new_data(s.data(), s.size());
}

std::string Xml(plist_t p) {
    char* xml = nullptr;
    uint32_t n = 0;
    plist_to_xml(p, &xml, &n);
    std::string s(xml, n);
    free(xml);
    plist_free(p);
    return s;
}

std::string Text(plist_t dict, const char* key) {
    plist_t n = dict ? plist_dict_get_item(dict, key) : nullptr;
    char* s = nullptr;
    if (n && plist_get_node_type(n) == PLIST_STRING) plist_get_string_val(n, &s);
    std::string out = s ? s : "";
    free(s);
    return out;
}

uint64_t Number(plist_t dict, const char* key) {
    plist_t n = dict ? plist_dict_get_item(dict, key) : nullptr;
    uint64_t v = 0;
    if (n && plist_get_node_type(n) == PLIST_UINT) plist_get_uint_val(n, &v);
    return v;
}

std::string PairRecord(const std::string& hostId) {
    const Identity& i = Id();
    return Xml(Dict({{"DeviceCertificate", Data(i.CertPem)},
                     {"HostCertificate", Data(i.CertPem)},
                     {"RootCertificate", Data(i.CertPem)},
                     {"HostPrivateKey", Data(i.KeyPem)},
                     {"RootPrivateKey", Data(i.KeyPem)},
                     {"HostID", Str(hostId)},
                     {"SystemBUID", Str("FAKE-BUID")},
                     {"WiFiMACAddress", Str("00:00:00:00:00:00")}}));
}

} // namespace

struct Server::Device {
    int Id = 0;
    DeviceSetup Setup;
    bool Present = true;
    std::set<std::string> Hosts; // host ids whose records the device accepts
    std::vector<std::weak_ptr<Client>> Connections;
};

struct Server::Client {
    int Fd = -1;
    std::mutex Write;
    SSL* Tls = nullptr;
    bool Open = true;

    bool ReadFull(void* buffer, size_t n) {
        auto* p = static_cast<char*>(buffer);
        while (n) {
            const long got = Tls ? SSL_read(Tls, p, int(n)) : ::recv(Fd, p, n, 0);
            if (got <= 0) return false;
            p += got;
            n -= size_t(got);
        }
        return true;
    }
    bool WriteFull(const void* buffer, size_t n) {
        std::lock_guard<std::mutex> lock(Write);
        auto* p = static_cast<const char*>(buffer);
        while (n) {
            const long put = Tls ? SSL_write(Tls, p, int(n)) : ::send(Fd, p, n, MSG_NOSIGNAL);
            if (put <= 0) return false;
            p += put;
            n -= size_t(put);
        }
        return true;
    }
    // usbmuxd framing: length, version 1, message 8 (plist), tag; then the XML.
    bool SendMux(const std::string& xml, uint32_t tag) {
        std::string packet(16, '\0');
        const uint32_t header[4] = {uint32_t(16 + xml.size()), 1, 8, tag};
        std::memcpy(packet.data(), header, 16);
        packet += xml;
        return WriteFull(packet.data(), packet.size());
    }
    // lockdown framing: a big-endian length, then the plist.
    bool SendPlist(plist_t p) {
        const std::string xml = Xml(p);
        const uint32_t n = htonl(uint32_t(xml.size()));
        std::string packet(reinterpret_cast<const char*>(&n), 4);
        packet += xml;
        return WriteFull(packet.data(), packet.size());
    }
    plist_t ReceivePlist() {
        uint32_t n = 0;
        if (!ReadFull(&n, 4)) return nullptr;
        n = ntohl(n);
        if (n > (1u << 20)) return nullptr;
        std::string body(n, '\0');
        if (!ReadFull(body.data(), n)) return nullptr;
        plist_t p = nullptr;
        plist_from_memory(body.data(), n, &p);
        return p;
    }
};

Server::Server(std::string socketPath) : FPath(std::move(socketPath)) {
    Id();
    ::unlink(FPath.c_str());
    FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, FPath.c_str(), sizeof(addr.sun_path) - 1);
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListen, 16) != 0)
        throw std::runtime_error("cannot listen on " + FPath);
    FThreads.emplace_back([this] { Accept(); });
}

Server::~Server() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopping = true;
        for (auto& c : FClients)
            if (c->Open) ::shutdown(c->Fd, SHUT_RDWR); // a closed one's number may be reused
    }
    FStallEnd.notify_all();
    ::shutdown(FListen, SHUT_RDWR);
    for (auto& t : FThreads)
        t.join();
    ::close(FListen);
    ::unlink(FPath.c_str());
}

void Server::Accept() {
    for (;;) {
        const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard<std::mutex> lock(FLock);
        if (fd < 0 || FStopping) {
            if (fd >= 0) ::close(fd);
            return;
        }
        auto c = std::make_shared<Client>();
        c->Fd = fd;
        FClients.push_back(c);
        FThreads.emplace_back([this, c] {
            Serve(c);
            std::lock_guard<std::mutex> lock(FLock);
            if (c->Tls) SSL_free(c->Tls);
            c->Tls = nullptr;
            c->Open = false;
            ::close(c->Fd);
        });
    }
}

void Server::Counted(const std::string& name) {
    std::lock_guard<std::mutex> lock(FLock);
    ++FCounts[name];
}

int Server::Count(const std::string& request) {
    std::lock_guard<std::mutex> lock(FLock);
    return FCounts[request];
}

namespace {
plist_t Attached(int id, const DeviceSetup& setup) {
    return Dict({{"MessageType", Str("Attached")},
                 {"DeviceID", plist_new_uint(uint64_t(id))},
                 {"Properties", Dict({{"ConnectionType", Str("USB")},
                                      {"DeviceID", plist_new_uint(uint64_t(id))},
                                      {"LocationID", plist_new_uint(0)},
                                      {"ProductID", plist_new_uint(0x12a8)},
                                      {"SerialNumber", Str(setup.Udid)}})}});
}
} // namespace

void Server::Broadcast(const std::string& xml) {
    for (auto& c : FListeners) // under FLock
        if (c->Open) c->SendMux(xml, 0);
}

int Server::Plug(const DeviceSetup& setup) {
    auto d = std::make_shared<Device>();
    d->Setup = setup;
    std::lock_guard<std::mutex> lock(FLock);
    d->Id = FNextId++;
    if (setup.Trusted) {
        const std::string host = "HOST-" + setup.Udid;
        FRecords[setup.Udid] = PairRecord(host);
        d->Hosts.insert(host);
    }
    FDevices[d->Id] = d;
    Broadcast(Xml(Attached(d->Id, setup)));
    return d->Id;
}

void Server::Pull(std::shared_ptr<Device> d) {
    // under FLock
    if (!d->Present) return;
    d->Present = false;
    for (auto& w : d->Connections)
        if (auto c = w.lock(); c && c->Open) ::shutdown(c->Fd, SHUT_RDWR);
    FDevices.erase(d->Id);
    Broadcast(Xml(Dict({{"MessageType", Str("Detached")}, {"DeviceID", plist_new_uint(uint64_t(d->Id))}})));
    FStallEnd.notify_all();
}

void Server::Unplug(int id) {
    std::lock_guard<std::mutex> lock(FLock);
    if (auto it = FDevices.find(id); it != FDevices.end()) Pull(it->second);
}

void Server::Trust(int id) {
    std::lock_guard<std::mutex> lock(FLock);
    auto it = FDevices.find(id);
    if (it == FDevices.end()) return;
    const std::string host = "HOST-" + it->second->Setup.Udid;
    FRecords[it->second->Setup.Udid] = PairRecord(host);
    it->second->Hosts.insert(host);
    Broadcast(Xml(Dict({{"MessageType", Str("Paired")}, {"DeviceID", plist_new_uint(uint64_t(id))}})));
}

void Server::StallReads(bool stall) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStall = stall;
    }
    FStallEnd.notify_all();
}

void Server::Serve(std::shared_ptr<Client> c) {
    for (;;) {
        uint32_t header[4];
        if (!c->ReadFull(header, 16) || header[0] < 16 || header[0] > (1u << 20)) return;
        std::string body(header[0] - 16, '\0');
        if (!c->ReadFull(body.data(), body.size())) return;
        plist_t msg = nullptr;
        plist_from_memory(body.data(), uint32_t(body.size()), &msg);
        const std::string type = Text(msg, "MessageType");
        const uint32_t tag = header[3];
        Counted(type);
        auto result = [&](uint64_t n) {
            c->SendMux(Xml(Dict({{"MessageType", Str("Result")}, {"Number", plist_new_uint(n)}})), tag);
        };
        if (type == "Listen") {
            result(0);
            std::lock_guard<std::mutex> lock(FLock);
            FListeners.push_back(c);
            for (auto& [id, d] : FDevices)
                c->SendMux(Xml(Attached(id, d->Setup)), 0);
        } else if (type == "ListDevices") {
            plist_t list = plist_new_array();
            {
                std::lock_guard<std::mutex> lock(FLock);
                for (auto& [id, d] : FDevices)
                    plist_array_append_item(list, Attached(id, d->Setup));
            }
            c->SendMux(Xml(Dict({{"DeviceList", list}})), tag);
        } else if (type == "ReadBUID") {
            c->SendMux(Xml(Dict({{"BUID", Str("FAKE-BUID")}})), tag);
        } else if (type == "ReadPairRecord") {
            std::string record;
            {
                std::lock_guard<std::mutex> lock(FLock);
                auto it = FRecords.find(Text(msg, "PairRecordID"));
                if (it != FRecords.end()) record = it->second;
            }
            if (record.empty())
                result(2);
            else
                c->SendMux(Xml(Dict({{"PairRecordData", Data(record)}})), tag);
        } else if (type == "SavePairRecord") {
            plist_t n = plist_dict_get_item(msg, "PairRecordData");
            char* data = nullptr;
            uint64_t size = 0;
            if (n) plist_get_data_val(n, &data, &size);
            {
                std::lock_guard<std::mutex> lock(FLock);
                FRecords[Text(msg, "PairRecordID")] = std::string(data ? data : "", size);
            }
            free(data);
            result(0);
        } else if (type == "DeletePairRecord") {
            std::lock_guard<std::mutex> lock(FLock);
            FRecords.erase(Text(msg, "PairRecordID"));
            result(0);
        } else if (type == "Connect") {
            const int id = int(Number(msg, "DeviceID"));
            const int port = ntohs(uint16_t(Number(msg, "PortNumber")));
            std::shared_ptr<Device> d;
            bool afc = false;
            {
                std::lock_guard<std::mutex> lock(FLock);
                auto it = FDevices.find(id);
                if (it != FDevices.end()) {
                    if (port == kLockdownPort) {
                        d = it->second;
                    } else if (auto p = FPorts.find(port); p != FPorts.end() && p->second == it->second) {
                        d = it->second;
                        afc = true;
                        FPorts.erase(p);
                    }
                }
                if (d) d->Connections.push_back(c);
            }
            plist_free(msg);
            if (!d) {
                result(3);
                continue;
            }
            result(0);
            if (afc)
                Afc(c, d);
            else
                Lockdown(c, d);
            return;
        } else {
            result(1);
        }
        plist_free(msg);
    }
}

void Server::Lockdown(std::shared_ptr<Client> c, std::shared_ptr<Device> d) {
    bool session = false;
    for (;;) {
        plist_t req = c->ReceivePlist();
        if (!req) return;
        const std::string name = Text(req, "Request");
        Counted(name);
        const DeviceSetup& setup = d->Setup;
        bool trusted = false;
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (setup.PullAt == name) {
                Pull(d);
                plist_free(req);
                return;
            }
            std::string host = Text(req, "HostID");
            if (plist_t rec = plist_dict_get_item(req, "PairRecord")) host = Text(rec, "HostID");
            trusted = d->Hosts.count(host) > 0;
            if (name == "Pair" && trusted && !setup.Locked) d->Hosts.insert(host);
        }
        auto reply = [&](std::initializer_list<std::pair<const char*, plist_t>> items) {
            plist_t r = Dict(items);
            plist_dict_set_item(r, "Request", Str(name));
            return c->SendPlist(r);
        };
        auto error = [&](const char* e) { return reply({{"Error", Str(e)}}); };
        bool ok = true;
        const int major = std::atoi(setup.Version.c_str());
        if (name == "QueryType") {
            ok = reply({{"Type", Str(setup.LockdownType)}});
        } else if (name == "GetValue") {
            const std::string key = Text(req, "Key");
            if (key == "ProductVersion")
                ok = reply({{"Key", Str(key)}, {"Value", Str(setup.Version)}});
            else if (key == "DevicePublicKey")
                ok = reply({{"Key", Str(key)}, {"Value", Data(Id().PublicPem)}});
            else if (key == "UniqueDeviceID")
                ok = reply({{"Key", Str(key)}, {"Value", Str(setup.Udid)}});
            else
                ok = error("MissingValue");
        } else if (name == "ValidatePair") {
            ok = major >= 11 || !trusted ? error("InvalidHostID") : reply({{"Result", Str("Success")}});
        } else if (name == "Pair") {
            ok = setup.Locked ? error("PasswordProtected")
                 : !trusted   ? error("PairingDialogResponsePending")
                              : reply({{"Result", Str("Success")}, {"EscrowBag", Data("bag")}});
        } else if (name == "StartSession") {
            if (!trusted) {
                ok = error("InvalidHostID");
            } else {
                ok = reply({{"Result", Str("Success")},
                            {"SessionID", Str("SESSION-" + setup.Udid)},
                            {"EnableSessionSSL", plist_new_bool(1)}});
                SSL* tls = SSL_new(major < 10 ? Id().Legacy : Id().Tls);
                SSL_set_fd(tls, c->Fd);
                if (!ok || SSL_accept(tls) != 1) {
                    SSL_free(tls);
                    plist_free(req);
                    return;
                }
                std::lock_guard<std::mutex> lock(FLock);
                c->Tls = tls;
                session = true;
            }
        } else if (name == "StopSession") {
            ok = reply({{"Result", Str("Success")}});
            // The host ends TLS with its close_notify and goes on in plain text; no answer to it.
            char byte;
            SSL_read(c->Tls, &byte, 1);
            std::lock_guard<std::mutex> lock(FLock);
            SSL_set_quiet_shutdown(c->Tls, 1);
            SSL_free(c->Tls);
            c->Tls = nullptr;
            session = false;
        } else if (name == "StartService") {
            const std::string service = Text(req, "Service");
            if (!session) {
                ok = error("SessionInactive");
            } else if (service != "com.apple.afc") {
                ok = error("InvalidService");
            } else {
                int port;
                {
                    std::lock_guard<std::mutex> lock(FLock);
                    port = FNextPort++;
                    FPorts[port] = d;
                }
                ok = reply({{"Result", Str("Success")},
                            {"Service", Str(service)},
                            {"Port", plist_new_uint(uint64_t(port))}});
            }
        } else if (name == "Goodbye") {
            reply({{"Result", Str("Success")}});
            ok = false;
        } else {
            ok = error("InvalidRequest");
        }
        plist_free(req);
        if (!ok) return;
    }
}

namespace {
enum : uint64_t {
    OpStatus = 1,
    OpData = 2,
    OpFileInfo = 0x0A,
    OpOpen = 0x0D,
    OpOpenResult = 0x0E,
    OpRead = 0x0F,
    OpWrite = 0x10,
    OpSeek = 0x11,
    OpClose = 0x14,
};
struct AfcHeader {
    char Magic[8];
    uint64_t Entire, This, Number, Operation;
};
} // namespace

void Server::Afc(std::shared_ptr<Client> c, std::shared_ptr<Device> d) {
    std::map<uint64_t, int> files;
    uint64_t nextFile = 1;
    auto answer = [&](uint64_t number, uint64_t op, const std::string& data) {
        AfcHeader h{};
        std::memcpy(h.Magic, "CFA6LPAA", 8);
        // Like the device, data follows the header as payload; only short answers are header data.
        h.Entire = sizeof h + data.size();
        h.This = op == OpData ? sizeof h : h.Entire;
        h.Number = number;
        h.Operation = op;
        std::string packet(reinterpret_cast<const char*>(&h), sizeof h);
        packet += data;
        return c->WriteFull(packet.data(), packet.size());
    };
    auto status = [&](uint64_t number, uint64_t code) {
        return answer(number, OpStatus, std::string(reinterpret_cast<const char*>(&code), 8));
    };
    auto word = [](const std::string& s, size_t at) {
        uint64_t v = 0;
        if (s.size() >= at + 8) std::memcpy(&v, s.data() + at, 8);
        return v;
    };
    for (bool ok = true; ok;) {
        AfcHeader h;
        if (!c->ReadFull(&h, sizeof h) || std::memcmp(h.Magic, "CFA6LPAA", 8) != 0 || h.This < sizeof h ||
            h.Entire < h.This || h.Entire > (64u << 20))
            break;
        std::string head(h.This - sizeof h, '\0'), payload(h.Entire - h.This, '\0');
        if (!c->ReadFull(head.data(), head.size()) || !c->ReadFull(payload.data(), payload.size())) break;
        const std::string path =
            d->Setup.Folder + std::string(h.Operation == OpOpen ? head.c_str() + 8 : head.c_str());
        switch (h.Operation) {
        case OpFileInfo: {
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0) {
                ok = status(h.Number, 8);
                break;
            }
            const std::string info = "st_size" + std::string(1, '\0') + std::to_string(st.st_size) + '\0' +
                                     "st_ifmt" + '\0' + (S_ISDIR(st.st_mode) ? "S_IFDIR" : "S_IFREG") + '\0';
            ok = answer(h.Number, OpData, info);
            break;
        }
        case OpOpen: {
            const uint64_t mode = word(head, 0);
            const int fd =
                ::open(path.c_str(), mode == 1 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) {
                ok = status(h.Number, 8);
                break;
            }
            files[nextFile] = fd;
            const uint64_t handle = nextFile++;
            ok = answer(h.Number, OpOpenResult, std::string(reinterpret_cast<const char*>(&handle), 8));
            break;
        }
        case OpRead: {
            Counted("AFCRead");
            {
                std::unique_lock<std::mutex> lock(FLock);
                FStallEnd.wait(lock, [&] { return !FStall || !d->Present || FStopping; });
                if (!d->Present || FStopping) {
                    ok = false;
                    break;
                }
            }
            auto f = files.find(word(head, 0));
            if (f == files.end()) {
                ok = status(h.Number, 7);
                break;
            }
            std::string data(std::min<uint64_t>(word(head, 8), 16u << 20), '\0');
            const long got = ::read(f->second, data.data(), data.size());
            data.resize(got > 0 ? size_t(got) : 0);
            ok = answer(h.Number, OpData, data);
            break;
        }
        case OpWrite: {
            auto f = files.find(word(head, 0));
            ok = status(h.Number, f != files.end() && ::write(f->second, payload.data(), payload.size()) ==
                                                          long(payload.size())
                                      ? 0
                                      : 5);
            break;
        }
        case OpSeek: {
            auto f = files.find(word(head, 0));
            ok = status(h.Number,
                        f != files.end() && ::lseek(f->second, off_t(word(head, 16)), int(word(head, 8))) >= 0
                            ? 0
                            : 7);
            break;
        }
        case OpClose: {
            auto f = files.find(word(head, 0));
            if (f != files.end()) {
                ::close(f->second);
                files.erase(f);
            }
            ok = status(h.Number, f != files.end() ? 0 : 7);
            break;
        }
        default:
            ok = status(h.Number, 15);
        }
    }
    for (auto& [h, fd] : files)
        ::close(fd);
}

} // namespace fakemuxd
