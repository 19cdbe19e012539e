#include "server/RequestParser.h"

#include "viewers/CContact.h"

namespace halvora {
namespace {

long Pos(std::string_view text, std::string_view key) {
    const auto at = text.find(key);
    return at == std::string_view::npos ? 0 : static_cast<long>(at) + 1;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

unsigned char LowerCp1251(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 32);  // А..Я
    switch (c) {
        case 0x80: return 0x90;  // Ђ
        case 0x81: return 0x83;  // Ѓ
        case 0x8A: return 0x9A;  // Љ
        case 0x8C: return 0x9C;  // Њ
        case 0x8D: return 0x9D;  // Ќ
        case 0x8E: return 0x9E;  // Ћ
        case 0x8F: return 0x9F;  // Џ
        case 0xA1: return 0xA2;  // Ў
        case 0xA3: return 0xBC;  // Ј
        case 0xA5: return 0xB4;  // Ґ
        case 0xA8: return 0xB8;  // Ё
        case 0xAA: return 0xBA;  // Є
        case 0xAF: return 0xBF;  // Ї
        case 0xB2: return 0xB3;  // І
        case 0xBD: return 0xBE;  // Ѕ
        default: return c;
    }
}

}  // namespace

std::string RequestTarget(std::string_view request) {
    const long p = Pos(request, "GET /");
    const long q = Pos(request, "HTTP");
    return SubString(request, p + 5, q - p - 5);
}

std::string LowerAnsi(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(LowerCp1251(static_cast<unsigned char>(c)));
    }
    return out;
}

Command ClassifyTarget(std::string_view t) {
    if (t.find("audiovideo") != std::string_view::npos) return cmdAudioVideo;
    if (t.find("video") != std::string_view::npos) return cmdVideo;
    if (t.find("chat") != std::string_view::npos) return cmdChat;
    if (t.find("audio") != std::string_view::npos) return cmdAudio;
    if (t.find("client.jar") != std::string_view::npos) return cmdClientJar;
    if (t.find("message") != std::string_view::npos) return cmdMessage;
    return cmdPage;
}

std::string UrlDecode(std::string_view text) {
    std::string plus(text);
    for (char& c : plus) {
        if (c == '+') c = ' ';
    }
    std::string out;
    out.reserve(plus.size());
    for (std::size_t i = 0; i < plus.size(); ++i) {
        if (plus[i] != '%') {
            out.push_back(plus[i]);
            continue;
        }
        const int hi = i + 1 < plus.size() ? HexValue(plus[i + 1]) : -1;
        const int lo = i + 2 < plus.size() ? HexValue(plus[i + 2]) : -1;
        if (hi >= 0 && lo >= 0) {
            const int value = hi * 16 + lo;
            if (value != 0) {
                out.push_back(static_cast<char>(value));
            }
        }
        i += 2;  // the two characters go with the percent sign, whatever they are
    }
    return out;
}

std::string MessageText(std::string_view decoded_target) {
    return SubString(decoded_target, 17, static_cast<long>(decoded_target.size()) - 17);
}

}  // namespace halvora
