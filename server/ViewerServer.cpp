#include "server/ViewerServer.h"

#include "common/CLog.h"
#include "common/LogText.h"

namespace halvora {

ViewerServer::ViewerServer(const ConnectionContext& context)
    : context_(context),
      socket_([this](std::unique_ptr<ClientSocket>& s) { return ServerSocket1GetThread(s); },
              [this](const std::string& why) { Refused(why); }, context.main) {
    context_.media_wake = &media_wake_;
}

ViewerServer::~ViewerServer() { Close(); }

ServerThreadPtr ViewerServer::ServerSocket1GetThread(std::unique_ptr<ClientSocket>& socket) {
    return std::make_shared<TMyServerSendThread>(std::move(socket), context_);
}

void ViewerServer::Refused(const std::string& why) {
    const long refused = ++refused_since_log_;
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    long long last = last_refusal_log_ms_.load();
    if (now - last < 1000 || !last_refusal_log_ms_.compare_exchange_strong(last, now)) {
        return;
    }
    refused_since_log_ = 0;
    std::string text = why;
    if (refused > 1) {
        text += " (" + std::to_string(refused) + " connections closed)";
    }
    LogError(logtext::kLogServerSocketGetThread, text);
}

std::vector<std::shared_ptr<TMyServerSendThread>> ViewerServer::Connections() const {
    std::vector<std::shared_ptr<TMyServerSendThread>> out;
    const auto all = socket_.Connections();
    out.reserve(all.size());
    for (const auto& t : all) {
        // Every thread of this server is made by ServerSocket1GetThread.
        out.push_back(std::static_pointer_cast<TMyServerSendThread>(t));
    }
    return out;
}

}  // namespace halvora
