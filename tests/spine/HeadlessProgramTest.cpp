#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/LogText.h"
#include "platform/registry/CodecKey.h"
#include "platform/registry/RegistryStore.h"
#include "tests/spine/ReplyExpectations.h"
#include "tests/spine/SpineSupport.h"
#include "viewers/CContact.h"
#include "viewers/CContactList.h"
#include "viewers/ContactsFile.h"

extern char** environ;

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A child process with its own environment and its output in files.
class Program {
public:
    Program(const std::string& path, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::filesystem::path& out_dir)
        : out_(out_dir / "stdout"), err_(out_dir / "stderr") {
        std::vector<std::string> variables;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (env.count(name) == 0 && name != "HALVORA_HOME" && name != "XDG_CONFIG_HOME" &&
                name != "HALVORA_DRIVER_PATH" && name != "TZ") {
                variables.push_back(entry);
            }
        }
        for (const auto& [name, value] : env) {
            variables.push_back(name + "=" + value);
        }
        std::vector<char*> envp;
        for (auto& v : variables) {
            envp.push_back(v.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> argv_text{path};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_text) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // The child starts with default signal handling and nothing blocked.
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const int rc = posix_spawn(&pid_, path.c_str(), &actions, &attr, argv.data(), envp.data());
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + path);
        }
    }

    ~Program() {
        if (Running()) {
            ::kill(pid_, SIGKILL);
            Wait(10s);
        }
    }

    bool Running() {
        Reap();
        return pid_ > 0 && !status_;
    }

    void Signal(int sig) { ::kill(pid_, sig); }

    // The exit status, or -signal when a signal ended it; nullopt on time-out.
    std::optional<int> Wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!Reap() && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }

    std::string Out() const { return ReadFileBytes(out_); }
    std::string Err() const { return ReadFileBytes(err_); }

private:
    bool Reap() {
        if (status_ || pid_ <= 0) {
            return status_.has_value();
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        return status_.has_value();
    }

    std::filesystem::path out_;
    std::filesystem::path err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool HeaderDone(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }

class HeadlessProgram : public ::testing::Test {
protected:
    void RunFennick() {
        Program fennick(HALVORA_SPINE_FENNICK, {}, Env(), dir.Path());
        ASSERT_EQ(fennick.Wait(30s), 0) << fennick.Err();
    }

    std::map<std::string, std::string> Env() const {
        return {{"XDG_CONFIG_HOME", config.string()}, {"HALVORA_DRIVER_PATH", HALVORA_SPINE_DRIVERS}};
    }

    void SetRegistryPort(int port) {
        RegistryStore store(config / "halvora" / "user.reg");
        store.WriteDWord(kCodecKeyPath, "PortNumber", static_cast<std::uint32_t>(port));
    }

    std::unique_ptr<Program> Start(const std::vector<std::string>& options,
                                   std::map<std::string, std::string> extra_env = {}) {
        std::vector<std::string> args{"--headless", "--home", home.string()};
        args.insert(args.end(), options.begin(), options.end());
        auto env = Env();
        env.insert(extra_env.begin(), extra_env.end());
        return std::make_unique<Program>(HALVORA_SPINE_HALVORA, args, env, dir.Path());
    }

    // Waits until the port accepts a connection while the program runs.
    static bool Listening(Program& program, int port, std::chrono::milliseconds timeout = 30s) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (PortAccepts(port)) {
                return true;
            }
            if (!program.Running()) {
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    TempDir dir;
    std::filesystem::path config = dir / "config";
    std::filesystem::path home = dir / "home";  // made by the program itself
};

TEST_F(HeadlessProgram, ThePortOptionOverridesThePortInTheRegistry) {
    RunFennick();
    const int registry_port = FreePort();
    int option_port = FreePort();
    while (option_port == registry_port) {
        option_port = FreePort();
    }
    SetRegistryPort(registry_port);
    auto program = Start({"--port", std::to_string(option_port)});
    ASSERT_TRUE(Listening(*program, option_port)) << program->Err();
    EXPECT_FALSE(PortAccepts(registry_port));
    // The program names the address viewers open once its start-up is over.
    const std::string announced = "127.0.0.1:" + std::to_string(option_port) + "/";
    const auto deadline = Clock::now() + 20s;
    while (program->Out().find(announced) == std::string::npos && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(program->Out().find(announced), std::string::npos) << program->Out();
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(20s), 0);
}

TEST_F(HeadlessProgram, WithoutThePortOptionItListensOnTheRegistryPort) {
    RunFennick();
    const int port = FreePort();
    SetRegistryPort(port);
    auto program = Start({});
    ASSERT_TRUE(Listening(*program, port)) << program->Err();
    Client viewer(port);
    viewer.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(viewer.WaitForEof(SleepPump, 10s));
    EXPECT_EQ(viewer.Body(), ExpectedAppletPage("127.0.0.1", port));
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(20s), 0);
}

TEST_F(HeadlessProgram, WithoutARegisteredCodecItDoesNotListen) {
    const int port = FreePort();
    auto program = Start({"--port", std::to_string(port)});
    // Start-up has ended when the program has said why it is not serving.
    const auto deadline = Clock::now() + 30s;
    while (program->Err().empty() && program->Running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(program->Running());
    EXPECT_FALSE(program->Err().empty());
    EXPECT_FALSE(PortAccepts(port));
    EXPECT_EQ(program->Out().find("broadcasting"), std::string::npos);
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(20s), 0);
}

class HeadlessSignal : public HeadlessProgram, public ::testing::WithParamInterface<int> {};

TEST_P(HeadlessSignal, SavesTheContactsAndExitsCleanlyWithStreamsOpen) {
    RunFennick();
    const int port = FreePort();
    auto program = Start({"--port", std::to_string(port)});
    ASSERT_TRUE(Listening(*program, port)) << program->Err();
    Client chat(port);
    chat.Send("GET /chat HTTP/1.0\r\n\r\n");
    Client media(port);
    media.Send("GET /audiovideo HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(chat.WaitFor(SleepPump, HeaderDone, 10s));
    ASSERT_TRUE(media.WaitFor(SleepPump, HeaderDone, 10s));
    Client reg(port);
    reg.Send("GET /message?message=registration&name=ann&company=acme&email=a@b&phone=1&interest=tv HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(reg.WaitForEof(SleepPump, 10s));
    ASSERT_EQ(reg.Received(), kAcknowledgement);

    const auto start = Clock::now();
    program->Signal(GetParam());
    EXPECT_EQ(program->Wait(20s), 0) << program->Err();
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_TRUE(chat.WaitForEof(SleepPump, 5s));
    EXPECT_TRUE(media.WaitForEof(SleepPump, 5s));

    CContactList saved;
    LoadContacts(saved, home / "contacts.tbl");
    ASSERT_EQ(saved.Count(), 1);
    std::lock_guard guard(saved);
    EXPECT_EQ(saved.Items(0)->Address, "127.0.0.1");
    EXPECT_EQ(saved.Items(0)->Name, "ann");
    EXPECT_EQ(saved.Items(0)->Interest, "tv");
    EXPECT_FALSE(std::filesystem::exists(home / "errors.log")) << ReadFileBytes(home / "errors.log");
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessSignal, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGINT");
                         });

TEST_F(HeadlessProgram, LoadsTheContactsAtStartRefusesABlockedViewerAndKeepsEveryContact) {
    RunFennick();
    std::filesystem::create_directories(home);
    {
        CContactList table;
        auto blocked = std::make_unique<CContact>(CContact::kGuestRegistration, "127.0.0.1");
        blocked->Blocked = true;
        table.Adopt(std::move(blocked));
        auto ann = std::make_unique<CContact>("registration&name=ann&company=&email=x&phone=&interest=music", "10.1.1.1");
        ann->ChatHistory = "\nann: hi\nServer: yo\n";
        table.Adopt(std::move(ann));
        SaveContacts(table, home / "contacts.tbl");
    }
    const std::string before = ReadFileBytes(home / "contacts.tbl");
    const int port = FreePort();
    auto program = Start({"--port", std::to_string(port)});
    // Probe from an address no contact blocks.
    const auto deadline = Clock::now() + 30s;
    bool up = false;
    while (!up && program->Running() && Clock::now() < deadline) {
        try {
            Client probe(port, "127.0.0.2");
            up = true;
        } catch (const std::exception&) {
            std::this_thread::sleep_for(50ms);
        }
    }
    ASSERT_TRUE(up) << program->Err();

    Client refused(port, "127.0.0.1");
    refused.Send("GET /chat HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(refused.WaitForEof(SleepPump, 10s));
    EXPECT_EQ(refused.Received(), "");
    Client welcome(port, "127.0.0.2");
    welcome.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(welcome.WaitForEof(SleepPump, 10s));
    EXPECT_EQ(welcome.Body(), ExpectedAppletPage("127.0.0.1", port));

    program->Signal(SIGTERM);
    ASSERT_EQ(program->Wait(20s), 0);
    EXPECT_EQ(ReadFileBytes(home / "contacts.tbl"), before);
}

TEST_F(HeadlessProgram, ErrorLogEntriesCarryTheUtcStampAndTheirPrefix) {
    RunFennick();
    const int port = FreePort();
    // A local time far from UTC, so a local stamp would show.
    auto program = Start({"--port", std::to_string(port)}, {{"TZ", "XYZ-14"}});
    ASSERT_TRUE(Listening(*program, port)) << program->Err();
    const auto log = home / "errors.log";
    // A viewer that resets its connection before the request makes the read fail.
    const auto deadline = Clock::now() + 20s;
    while (FileLines(log).empty() && Clock::now() < deadline) {
        Client gone(port);
        std::this_thread::sleep_for(20ms);
        gone.Close(/*abortive=*/true);
        std::this_thread::sleep_for(100ms);
    }
    const std::time_t now = std::time(nullptr);
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(20s), 0);
    const auto lines = FileLines(log);
    ASSERT_FALSE(lines.empty());
    const std::regex stamp(R"((\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d) )");
    for (const auto& line : lines) {
        std::smatch m;
        const std::string head = line.substr(0, 18);
        ASSERT_TRUE(std::regex_match(head, m, stamp)) << line;
        std::tm t{};
        t.tm_mon = std::stoi(m[1]) - 1;
        t.tm_mday = std::stoi(m[2]);
        t.tm_year = 100 + std::stoi(m[3]);
        t.tm_hour = std::stoi(m[4]);
        t.tm_min = std::stoi(m[5]);
        t.tm_sec = std::stoi(m[6]);
        const std::time_t written = ::timegm(&t);
        EXPECT_LE(std::abs(static_cast<long>(written - now)), 120L) << "not a UTC stamp: " << head;
        EXPECT_EQ(line.compare(18, logtext::kLogGetCommand.size(), logtext::kLogGetCommand), 0) << line;
    }
}

TEST_F(HeadlessProgram, APortInUseIsLoggedOnceAndTheProgramStaysUpWithoutServing) {
    RunFennick();
    // Stored contacts that this run never loads must survive its shutdown.
    std::filesystem::create_directories(home);
    {
        CContactList table;
        table.Adopt(std::make_unique<CContact>(CContact::kGuestRegistration, "10.2.3.4"));
        SaveContacts(table, home / "contacts.tbl");
    }
    const std::string stored = ReadFileBytes(home / "contacts.tbl");
    // Something else holds the port.
    const int port = FreePort();
    const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder, 4), 0);

    auto program = Start({"--port", std::to_string(port)});
    const auto log = home / "errors.log";
    const auto deadline = Clock::now() + 30s;
    while (FileLines(log).empty() && program->Running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(program->Running());
    const auto lines = FileLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(HasLogStamp(lines[0]));
    EXPECT_EQ(lines[0].compare(18, logtext::kLogFormShow.size(), logtext::kLogFormShow), 0) << lines[0];
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(20s), 0);
    EXPECT_EQ(ReadFileBytes(home / "contacts.tbl"), stored);
    ::close(holder);
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
    int status;
};

class HeadlessUsage : public HeadlessProgram, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(HeadlessUsage, EndsWithItsStatus) {
    Program program(HALVORA_SPINE_HALVORA, GetParam().args, Env(), dir.Path());
    EXPECT_EQ(program.Wait(20s), GetParam().status) << program.Err();
}

INSTANTIATE_TEST_SUITE_P(Options, HeadlessUsage,
                         ::testing::Values(UsageCase{"NoWindowYet", {}, 2},
                                           UsageCase{"BadPort", {"--headless", "--port", "x"}, 2},
                                           UsageCase{"UnknownOption", {"--headless", "--bogus"}, 2},
                                           UsageCase{"Help", {"--help"}, 0}),
                         [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace halvora::spine
