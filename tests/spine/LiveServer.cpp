#include "tests/spine/LiveServer.h"

#include <mutex>

#include "common/CLog.h"

namespace halvora::spine {

LiveServer::LiveServer(int max_threads)
    : list(contacts, view, [this] { ++selection_saves; }, nullptr),
      chat(contacts, list, view, [this] { return server->Connections(); }),
      host(list, chat) {
    loop.AdoptCurrentThread();
    CLog::Instance().SetFolder(dir.Path());
    server = std::make_unique<ViewerServer>(ConnectionContext{&contacts, ContactsFile(), &loop, &host});
    server->SetPort(0);
    if (max_threads > 0) {
        server->Socket().SetMaxThreads(max_threads);
    }
    server->Open();
    pump_ = [this](milliseconds d) { PumpFor(d); };
}

LiveServer::~LiveServer() {
    server->Close();
    server.reset();
}

void LiveServer::PumpFor(milliseconds d) {
    loop.RunUntil([] { return false; }, d);
}

bool LiveServer::PumpUntil(const std::function<bool()>& done, milliseconds timeout) {
    return loop.RunUntil(done, timeout);
}

std::unique_ptr<Client> LiveServer::Connect(const std::string& from) {
    return std::make_unique<Client>(Port(), from);
}

std::unique_ptr<Client> LiveServer::Request(std::string_view request, const std::string& from) {
    auto client = Connect(from);
    client->Send(request);
    return client;
}

std::unique_ptr<Client> LiveServer::OpenStream(std::string_view target, const std::string& from) {
    auto client = Request("GET /" + std::string(target) + " HTTP/1.0\r\n\r\n", from);
    client->WaitFor(pump_, [](const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; },
                    milliseconds(5000));
    return client;
}

std::shared_ptr<TMyServerSendThread> LiveServer::ConnectionOf(const Client& client, milliseconds timeout) {
    const int port = client.LocalPort();
    std::shared_ptr<TMyServerSendThread> found;
    PumpUntil(
        [&] {
            for (const auto& t : server->Connections()) {
                if (t->Socket().RemotePort() == port && t->Socket().RemoteAddress() == client.From()) {
                    found = t;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

std::vector<CContact*> LiveServer::ContactsAt(const std::string& address) {
    std::vector<CContact*> out;
    std::lock_guard guard(contacts);
    for (int i = 0; i < contacts.Count(); ++i) {
        if (contacts.Items(i)->Address == address) {
            out.push_back(contacts.Items(i));
        }
    }
    return out;
}

}  // namespace halvora::spine
