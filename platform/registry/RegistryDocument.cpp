#include "platform/registry/RegistryDocument.h"

#include <algorithm>
#include <cstdio>

namespace halvora {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER\\";
constexpr std::string_view kDWordTag = "dword:";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

template <typename Keys>
auto* FindKeyIn(Keys& keys, std::string_view path) {
    const auto it = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return EqualNoCase(k.path, path); });
    return it == keys.end() ? nullptr : &*it;
}

template <typename Values>
auto FindValueIn(Values& values, std::string_view name) {
    return std::find_if(values.begin(), values.end(), [&](const auto& v) { return EqualNoCase(v.name, name); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// A line may hold tabs but no other control byte: binary data or a file in
// another encoding (UTF-16 has NULs everywhere) shows up here.
bool CleanLine(std::string_view line) {
    return std::none_of(line.begin(), line.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t';
    });
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c; break;
        }
    }
    out += '"';
}

// Reads a quoted, escaped text at the start of s; advances s past it.
std::optional<std::string> TakeQuoted(std::string_view& s) {
    if (s.empty() || s.front() != '"') {
        return std::nullopt;
    }
    std::string text;
    std::size_t i = 1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i == s.size()) {
            return std::nullopt;
        }
        switch (s[i]) {
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            default: return std::nullopt;
        }
    }
    return std::nullopt;  // no closing quote: a truncated line
}

std::optional<std::uint32_t> ParseDWord(std::string_view digits) {
    if (digits.size() != 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return value;
}

// One value line: "name"=data or @=data.
std::optional<RegistryDocument::Value> ParseValueLine(std::string_view line) {
    RegistryDocument::Value value;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
    } else {
        auto name = TakeQuoted(line);
        if (!name) {
            return std::nullopt;
        }
        value.name = std::move(*name);
    }
    line = TrimSpaces(line);
    if (line.empty() || line.front() != '=') {
        return std::nullopt;
    }
    line = TrimSpaces(line.substr(1));
    if (StartsWithNoCase(line, kDWordTag)) {
        const auto dword = ParseDWord(line.substr(kDWordTag.size()));
        if (!dword) {
            return std::nullopt;
        }
        value.type = RegistryDocument::Type::DWord;
        value.dword = *dword;
        return value;
    }
    auto text = TakeQuoted(line);
    if (!text || !TrimSpaces(line).empty()) {
        return std::nullopt;
    }
    value.type = RegistryDocument::Type::String;
    value.text = std::move(*text);
    return value;
}

}  // namespace

bool RegistryDocument::ValidKeyPath(std::string_view path) {
    if (path.empty() || !CleanLine(path) || path.find('\t') != std::string_view::npos) {
        return false;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        if (end == start || start == path.size()) {
            return false;  // empty component (leading, trailing or doubled backslash)
        }
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

bool RegistryDocument::ValidText(std::string_view text) {
    // Line breaks are escaped when written; other control bytes have no
    // written form and would make the file unreadable.
    return std::none_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    });
}

std::optional<RegistryDocument> RegistryDocument::Parse(std::string_view text) {
    RegistryDocument doc;
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        text.remove_prefix(kUtf8Bom.size());
    }
    Key* current = nullptr;
    bool first_line = true;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!CleanLine(line)) {
            return std::nullopt;
        }
        line = TrimSpaces(line);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        const bool was_first = first_line;
        first_line = false;
        if (was_first && (line == kHeader || line == kOldHeader)) {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                return std::nullopt;
            }
            const std::string_view full = line.substr(1, line.size() - 2);
            if (!StartsWithNoCase(full, kRoot)) {
                return std::nullopt;
            }
            const std::string_view path = full.substr(kRoot.size());
            if (!ValidKeyPath(path)) {
                return std::nullopt;
            }
            current = &doc.FindOrAddKey(path);
            continue;
        }
        if (current == nullptr) {
            return std::nullopt;
        }
        auto value = ParseValueLine(line);
        if (!value) {
            return std::nullopt;
        }
        // A later line for the same name wins, as it does when such a file is imported.
        auto& values = current->values;
        const auto same = FindValueIn(values, value->name);
        if (same != values.end()) {
            same->type = value->type;
            same->dword = value->dword;
            same->text = std::move(value->text);
        } else {
            values.push_back(std::move(*value));
        }
    }
    return doc;
}

std::string RegistryDocument::Serialize() const {
    std::string out;
    out += kHeader;
    out += "\n";
    for (const Key& key : keys_) {
        out += "\n[";
        out += kRoot;
        out += key.path;
        out += "]\n";
        for (const Value& value : key.values) {
            if (value.name.empty()) {
                out += '@';
            } else {
                AppendQuoted(out, value.name);
            }
            out += '=';
            if (value.type == Type::DWord) {
                char digits[16];
                std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.dword));
                out += kDWordTag;
                out += digits;
            } else {
                AppendQuoted(out, value.text);
            }
            out += '\n';
        }
    }
    return out;
}

const RegistryDocument::Key* RegistryDocument::FindKey(std::string_view path) const {
    return FindKeyIn(keys_, path);
}

bool RegistryDocument::KeyOrSubkeyExists(std::string_view path) const {
    return std::any_of(keys_.begin(), keys_.end(), [&](const Key& k) {
        return EqualNoCase(k.path, path) ||
               (k.path.size() > path.size() && k.path[path.size()] == '\\' && StartsWithNoCase(k.path, path));
    });
}

const RegistryDocument::Value* RegistryDocument::FindValue(std::string_view path, std::string_view name) const {
    const Key* key = FindKey(path);
    if (key == nullptr) {
        return nullptr;
    }
    const auto it = FindValueIn(key->values, name);
    return it == key->values.end() ? nullptr : &*it;
}

RegistryDocument::Key& RegistryDocument::FindOrAddKey(std::string_view path) {
    if (Key* key = FindKeyIn(keys_, path)) {
        return *key;
    }
    keys_.push_back(Key{std::string(path), {}});
    return keys_.back();
}

bool RegistryDocument::CreateKey(std::string_view path) {
    if (FindKey(path) != nullptr) {
        return false;
    }
    FindOrAddKey(path);
    return true;
}

bool RegistryDocument::SetValue(std::string_view path, Value value) {
    Key& key = FindOrAddKey(path);
    const auto it = FindValueIn(key.values, value.name);
    if (it == key.values.end()) {
        key.values.push_back(std::move(value));
        return true;
    }
    if (it->type == value.type && it->dword == value.dword && it->text == value.text) {
        return false;
    }
    // The stored name keeps its letter case, as the platform's registry does.
    it->type = value.type;
    it->dword = value.dword;
    it->text = std::move(value.text);
    return true;
}

bool RegistryDocument::SetDWord(std::string_view path, std::string_view name, std::uint32_t value) {
    return SetValue(path, Value{std::string(name), Type::DWord, value, {}});
}

bool RegistryDocument::SetString(std::string_view path, std::string_view name, std::string_view text) {
    return SetValue(path, Value{std::string(name), Type::String, 0, std::string(text)});
}

bool RegistryDocument::DeleteValue(std::string_view path, std::string_view name) {
    Key* key = FindKeyIn(keys_, path);
    if (key == nullptr) {
        return false;
    }
    auto& values = key->values;
    const auto it = FindValueIn(values, name);
    if (it == values.end()) {
        return false;
    }
    values.erase(it);
    return true;
}

}  // namespace halvora
