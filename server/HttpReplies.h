#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace halvora {

// The fixed texts of the server's replies, built in one place. Every reply is
// HTTP/1.0 200; the one-shot replies end the connection after the body even
// though their headers announce Keep-Alive, which is what the viewer expects.

// "%a, %d %b %Y %H:%M:%S GMT" of the given calendar time, in UTC, with English
// names whatever the locale.
std::string HttpDate(std::time_t when);
std::string HttpDate();

// The HTML page that embeds the viewer applet, telling it the address and port
// the viewer reached us on.
std::string AppletPage(std::string_view local_address, int local_port);
std::string AppletPageHeader(std::string_view date, std::size_t page_length);
std::string ClientJarHeader(std::string_view date, std::size_t jar_size);
// The header of an endless stream reply (chat and media streams).
std::string StreamReplyHeader(std::string_view date);
// The bare acknowledgement: exactly these 17 bytes, nothing after them.
inline constexpr std::string_view kEmptyReply = "HTTP/1.0 200 OK\r\n";

inline constexpr std::string_view kStatusOnline = "~online";
inline constexpr std::string_view kStatusOffline = "~offline";

}  // namespace halvora
