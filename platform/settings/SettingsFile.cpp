#include "platform/settings/SettingsFile.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/paths/ProgramFolder.h"
#include "platform/settings/WholeFile.h"

namespace halvora {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Writers in this process take turns, so that two threads changing one file
// cannot both read the old text and lose one change.
std::mutex g_write_mutex;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// One line of the file: its bytes without the line ending, and where the next
// line starts.
struct Line {
    std::size_t begin;
    std::size_t end;   // content end (before \r\n or \n)
    std::size_t next;  // after the line ending
};

std::vector<Line> SplitLines(std::string_view text, std::size_t start) {
    std::vector<Line> lines;
    std::size_t pos = start;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({pos, text.size(), text.size()});
            break;
        }
        const std::size_t end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({pos, end, nl + 1});
        pos = nl + 1;
    }
    return lines;
}

// The section name when the line is a section header.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;  // raw: untrimmed, quotes kept
};

// The key and value when the line is a key line (not a comment).
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') {
        return std::nullopt;
    }
    const std::size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(trimmed.substr(0, eq)), trimmed.substr(eq + 1)};
}

// Where the section and the key sit in the file.
struct Position {
    std::optional<std::size_t> section;  // index of the header line
    std::optional<std::size_t> key;      // index of the key line
    std::size_t last_in_section = 0;     // last key line, else the header
};

Position Locate(std::string_view text, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
    Position pos;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (const auto name = SectionName(line)) {
            if (pos.section) {
                break;  // only the first matching section counts
            }
            if (EqualNoCase(*name, section)) {
                pos.section = i;
                pos.last_in_section = i;
            }
            continue;
        }
        if (!pos.section) {
            continue;
        }
        if (const auto entry = ParseKeyLine(line)) {
            pos.last_in_section = i;
            if (EqualNoCase(entry->key, key)) {
                pos.key = i;
                break;
            }
        }
    }
    return pos;
}

std::size_t BomLength(std::string_view text) { return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0; }

std::string_view LineEnding(std::string_view text) {
    const std::size_t nl = text.find('\n');
    return (nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r') ? "\r\n" : "\n";
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

SettingsFile::SettingsFile(std::filesystem::path file) : file_(std::move(file)) {}

SettingsFile SettingsFile::Setup() { return SettingsFile(ProgramFolder() / "setup.ini"); }

const std::filesystem::path& SettingsFile::File() const { return file_; }

std::string SettingsFile::ReadString(std::string_view section, std::string_view key, std::string_view def,
                                     std::size_t max_chars) const {
    std::string_view result = def;
    std::string text;
    if (!ReadWholeFile(file_, kMaxFileBytes, text)) {
        const auto lines = SplitLines(text, BomLength(text));
        const Position pos = Locate(text, lines, Trim(section), Trim(key));
        if (pos.key) {
            const Line& line = lines[*pos.key];
            std::string_view value =
                Trim(ParseKeyLine(std::string_view(text).substr(line.begin, line.end - line.begin))->value);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            result = value;
        }
    }
    return std::string(result.substr(0, max_chars));
}

void SettingsFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    const auto refuse = [&](std::string_view why) {
        throw SettingsError(FileErrorText(file_, why, {}));
    };
    if (section.empty() || HasLineBreak(section) || section.find(']') != std::string_view::npos) {
        refuse("cannot store section name \"" + std::string(section) + "\"");
    }
    if (key.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos || key.front() == ';' ||
        key.front() == '[') {
        refuse("cannot store key name \"" + std::string(key) + "\"");
    }
    if (HasLineBreak(value)) {
        refuse("cannot store a line break in the value of \"" + std::string(key) + "\"");
    }

    const std::lock_guard guard(g_write_mutex);
    std::string text;
    if (const auto ec = ReadWholeFile(file_, kMaxFileBytes, text); ec && ec != std::errc::no_such_file_or_directory) {
        // Rewriting what could not be read would lose it.
        throw SettingsError(FileErrorText(file_, "cannot read", ec));
    }
    const std::string eol(LineEnding(text));
    const auto lines = SplitLines(text, BomLength(text));
    const Position pos = Locate(text, lines, section, key);

    std::string out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 8);
    if (pos.key) {
        const Line& line = lines[*pos.key];
        const std::string_view stored_key =
            ParseKeyLine(std::string_view(text).substr(line.begin, line.end - line.begin))->key;
        // Indentation and the key's own spelling stay as they were.
        const auto key_begin = static_cast<std::size_t>(stored_key.data() - text.data());
        out.append(text, 0, key_begin);
        out.append(stored_key).append("=").append(value);
        out.append(text, line.end, std::string::npos);
    } else if (pos.section) {
        const Line& after = lines[pos.last_in_section];
        out.append(text, 0, after.next);
        if (after.next == after.end) {
            out += eol;  // the last line of the file had no line ending
        }
        out.append(key).append("=").append(value).append(eol);
        out.append(text, after.next, std::string::npos);
    } else {
        out = text;
        if (out.size() > BomLength(text) && out.back() != '\n') {
            out += eol;
        }
        if (!lines.empty() && lines.back().end > lines.back().begin) {
            out += eol;  // a blank line between sections
        }
        out.append("[").append(section).append("]").append(eol);
        out.append(key).append("=").append(value).append(eol);
    }
    if (const auto ec = ReplaceWholeFile(file_, out, 0644)) {
        throw SettingsError(FileErrorText(file_, "cannot write", ec));
    }
}

}  // namespace halvora
