#pragma once

#include <string>
#include <string_view>

namespace halvora {

// Command codes of a connection, chosen from the request target.
enum Command : int {
    cmdPage = 0,
    cmdVideo = 1,
    cmdChat = 2,
    cmdAudio = 3,
    cmdClientJar = 5,
    cmdRegistration = 6,
    cmdMessage = 7,
    cmdUnclassified = 9,
    cmdAudioVideo = 10,
    cmdCall = 200,
};

// At most this many bytes of a request are read, in one read.
inline constexpr std::size_t kRequestBytes = 1024;

// The target between the first "GET /" and the first "HTTP" (both found
// case-sensitively in the whole text), by the substring rules: empty when the
// start lies beyond the text or the length is not positive. A request line
// "GET /chat HTTP/1.0" gives "chat " (the space before "HTTP" stays).
std::string RequestTarget(std::string_view request);

// Lower-cases the letters of the single-byte windows-1251 code page; every
// other byte is kept.
std::string LowerAnsi(std::string_view text);

// The keyword classification of a lower-cased target, tested in order
// "audiovideo", "video", "chat", "audio", "client.jar", "message". A message
// target gives cmdMessage; the caller refines it. No keyword gives cmdPage.
Command ClassifyTarget(std::string_view lower_target);

// "+" becomes a space; then "%" and the two characters after it are consumed
// together and read as a hexadecimal number: 1..255 appends that byte, 0 or
// characters that are not hexadecimal append nothing. A "%" in one of the last
// two positions consumes what remains.
std::string UrlDecode(std::string_view text);

// The chat text of a decoded message target: without the 16 characters of
// "message?message=" in front and the last character (the space before "HTTP").
std::string MessageText(std::string_view decoded_target);

}  // namespace halvora
