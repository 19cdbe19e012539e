#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace halvora::spine {

using std::chrono::milliseconds;

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, std::string_view bytes);

// The entries of an errors.log split at line feeds (an entry whose message holds
// a line feed counts as two lines); empty when the file is missing.
std::vector<std::string> FileLines(const std::filesystem::path& file);

// True when line starts with an 18-character stamp "MM/DD/YY HH:MM:SS ".
bool HasLogStamp(std::string_view line);

// Lets the caller's own work go on while a client waits: the in-process server
// needs its main loop run, a subprocess needs nothing but time.
using Pump = std::function<void(milliseconds)>;
void SleepPump(milliseconds d);

// A plain TCP client on loopback. Bind it to another 127.x.y.z address to play
// a different viewer machine.
class Client {
public:
    Client(int port, const std::string& from = "127.0.0.1", const std::string& to = "127.0.0.1");
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Send(std::string_view bytes);
    // Half-closes our side: the server reads end of stream.
    void ShutdownWrite();
    // Closes at once; with abortive, the server gets a reset instead of an end.
    void Close(bool abortive = false);

    int LocalPort() const;
    const std::string& From() const { return from_; }

    // Reads whatever has arrived, without waiting.
    void Poll();
    // Pumps and polls until pred(received) holds, the server closes or timeout.
    bool WaitFor(const Pump& pump, const std::function<bool(const std::string&)>& pred, milliseconds timeout);
    bool WaitForBytes(const Pump& pump, std::size_t count, milliseconds timeout);
    // Pumps and polls until the server has closed the connection.
    bool WaitForEof(const Pump& pump, milliseconds timeout);

    const std::string& Received() const { return received_; }
    // Bytes after the first empty line (the reply body), empty if no header end.
    std::string Body() const;
    std::string Header() const;
    bool Eof() const { return eof_; }

private:
    int fd_ = -1;
    std::string from_;
    std::string received_;
    bool eof_ = false;
};

// Connects to a port and tells whether anything accepted.
bool PortAccepts(int port);
// A port that nothing listens on right now.
int FreePort();

// Packet header bytes as they must appear on the wire.
std::string PacketBytes(std::uint16_t length, std::uint8_t key, std::uint8_t kind, std::string_view payload);

}  // namespace halvora::spine
