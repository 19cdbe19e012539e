#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvora {

// The registry file's text, parsed: the one place that reads and writes the
// registry-export form. Knows nothing of files or locks (RegistryStore does).
//
// Accepted on reading, line by line (\n or \r\n):
//   an optional first line "Windows Registry Editor Version 5.00" or "REGEDIT4";
//   blank lines and ';' comments;
//   [HKEY_CURRENT_USER\Some\Key]
//   "Name"=dword:0000abcd          exactly 8 hex digits
//   "Name"="text"                  \\ and \" escaped; \n and \r for line breaks
//   @=...                          the key's default (empty-named) value
// Anything else (another hive, another value type, a value before any key, a
// truncated line, a control byte) makes the whole text damaged: a half-read
// registry is worse than an empty one, since a rewrite would drop the rest.
class RegistryDocument {
public:
    enum class Type { DWord, String };
    struct Value {
        std::string name;  // as first written; matched without regard to case
        Type type = Type::DWord;
        std::uint32_t dword = 0;  // Type::DWord
        std::string text;         // Type::String
    };
    struct Key {
        std::string path;  // "Software\\DivXNetworks\\Divx4Windows", as first written
        std::vector<Value> values;
    };

    // nullopt when the text is damaged.
    static std::optional<RegistryDocument> Parse(std::string_view text);
    std::string Serialize() const;

    // Whether a key path can be stored: non-empty components separated by single
    // backslashes, no control bytes. Names and string data may hold any byte
    // but NUL.
    static bool ValidKeyPath(std::string_view path);
    static bool ValidText(std::string_view text);

    const Key* FindKey(std::string_view path) const;
    // The key or one of its subkeys is present.
    bool KeyOrSubkeyExists(std::string_view path) const;
    const Value* FindValue(std::string_view path, std::string_view name) const;

    // Each returns whether the document changed.
    bool CreateKey(std::string_view path);
    bool SetDWord(std::string_view path, std::string_view name, std::uint32_t value);
    bool SetString(std::string_view path, std::string_view name, std::string_view text);
    bool DeleteValue(std::string_view path, std::string_view name);

    const std::vector<Key>& Keys() const { return keys_; }

private:
    Key& FindOrAddKey(std::string_view path);
    bool SetValue(std::string_view path, Value value);

    std::vector<Key> keys_;  // in file order
};

}  // namespace halvora
