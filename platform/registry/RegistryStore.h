#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace halvora {

// A registry operation that could not be carried out. The message names the
// registry file and the reason.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// $XDG_CONFIG_HOME/halvora/user.reg, or ~/.config/halvora/user.reg when
// XDG_CONFIG_HOME is unset or empty.
std::filesystem::path UserRegistryPath();

// The per-user registry: one text file in registry-export form, e.g.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\DivXNetworks\Divx4Windows]
//   "Bitrate"=dword:00004e20
//   "FileSend"="/home/ann/show.str"
//
// Keys are paths under HKEY_CURRENT_USER written with backslashes
// ("Software\\DivXNetworks\\Divx4Windows"); key and value names match without
// regard to ASCII letter case. Values are typed: 32-bit dword or string; the
// empty value name is the key's default value (written "@").
//
// Nothing is cached: every read opens and parses the file under a shared flock
// on the lock file beside it (user.reg.lock); every write re-reads the file,
// changes it and replaces it atomically (temporary file in the same folder, then
// rename) under an exclusive flock, so two processes (halvora and fennick)
// writing at once never lose each other's values nor leave a damaged file.
//
// A damaged file (not registry-export text, binary, a truncated line, larger
// than kMaxFileBytes) reads as empty and never throws. A write over a damaged
// file starts from empty; the damaged file is first kept as user.reg.damaged so
// that nothing is silently thrown away.
//
// The object holds only the file's path, so const calls may be made from any
// thread at once.
class RegistryStore {
public:
    // A file larger than this is not parsed (it reads as damaged), and a write
    // that would make the file larger is refused.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    explicit RegistryStore(std::filesystem::path file = UserRegistryPath());

    const std::filesystem::path& File() const;

    // nullopt: missing, of the other type, unreadable or damaged file.
    std::optional<std::uint32_t> ReadDWord(std::string_view key, std::string_view name) const;
    std::optional<std::string> ReadString(std::string_view key, std::string_view name) const;

    // A key exists when it was created or when one of its subkeys was.
    bool KeyExists(std::string_view key) const;
    // The key's value names as stored, in file order; empty when the key is missing.
    std::vector<std::string> ValueNames(std::string_view key) const;

    // Each throws RegistryError when the file cannot be written or a name is not
    // valid (empty key path or component, a control character). The folder is
    // created when missing. A write replaces a value of the other type.
    void CreateKey(std::string_view key);
    void WriteDWord(std::string_view key, std::string_view name, std::uint32_t value);
    void WriteString(std::string_view key, std::string_view name, std::string_view value);
    // False (and the file untouched) when the value is absent.
    bool DeleteValue(std::string_view key, std::string_view name);

    // True when the file exists but is not a registry file this store can read
    // (then it is read as empty).
    bool IsDamaged() const;

private:
    std::filesystem::path file_;
};

}  // namespace halvora
