#include "app/HeadlessMain.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "common/CLog.h"
#include "platform/mainloop/MainLoop.h"
#include "platform/net/TServerSocket.h"
#include "platform/paths/ProgramFolder.h"

namespace halvora {
namespace {

// The IPv4 addresses a viewer can open, loopback last.
std::vector<std::string> ViewerAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
            if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) {
                continue;
            }
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
            if (std::string(text).rfind("127.", 0) != 0) {
                addresses.emplace_back(text);
            }
        }
        freeifaddrs(list);
    }
    addresses.emplace_back("127.0.0.1");
    return addresses;
}

void Announce(BroadcastHost& host) {
    switch (host.State()) {
        case BroadcastHost::StartState::Started: {
            const int port = host.ListeningPort();
            std::printf("Halvora is broadcasting. Viewers open:\n");
            for (const std::string& a : ViewerAddresses()) {
                if (port == 80) {
                    std::printf("  http://%s/\n", a.c_str());
                } else {
                    std::printf("  http://%s:%d/\n", a.c_str(), port);
                }
            }
            std::printf("Program folder: %s\nPress Ctrl+C to stop.\n", ProgramFolder().c_str());
            break;
        }
        case BroadcastHost::StartState::NoCodec:
            std::fprintf(stderr,
                         "halvora: no video codec is registered, so the server was not started.\n"
                         "Run fennick once to register it, then start halvora again.\n");
            break;
        case BroadcastHost::StartState::Failed:
            std::fprintf(stderr, "halvora: start-up failed and the server is not running; see %s\n",
                         CLog::Instance().Path().c_str());
            break;
        case BroadcastHost::StartState::NotStarted:
            break;
    }
    std::fflush(stdout);
    std::fflush(stderr);
}

}  // namespace

int RunHeadless(const CommandLine& command_line) {
    // Termination signals are taken by one thread with sigwait; every other
    // thread, started after this, inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);  // ends the signal thread after the loop
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    RaiseOpenFileLimit();
    if (command_line.home) {
        std::error_code ec;
        std::filesystem::create_directories(*command_line.home, ec);
        SetProgramFolder(*command_line.home);
    }
    CLog::Instance().SetFolder(ProgramFolder());

    MainLoop loop;
    BroadcastHost host(loop, command_line.host);

    std::atomic<bool> loop_done{false};
    std::thread signal_thread([&] {
        bool closing = false;
        for (;;) {
            int sig = 0;
            if (sigwait(&signals, &sig) != 0) {
                continue;
            }
            if (loop_done) {
                return;
            }
            if ((sig == SIGINT || sig == SIGTERM) && !closing) {
                closing = true;
                loop.Post([&] {
                    host.FormClose();
                    loop.Quit();
                });
            }
        }
    });

    loop.Post([&] {
        host.FormShow();
        Announce(host);
    });
    loop.Run();

    loop_done = true;
    pthread_kill(signal_thread.native_handle(), SIGUSR1);
    signal_thread.join();
    return 0;
}

}  // namespace halvora
