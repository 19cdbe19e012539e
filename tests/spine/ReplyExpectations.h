#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace halvora::spine {

// The applet page as a viewer must receive it for the server's address and port.
std::string ExpectedAppletPage(const std::string& address, int port);

// The header block of each reply, for a given Date value.
std::string ExpectedPageHeader(const std::string& date, std::size_t page_length);
std::string ExpectedJarHeader(const std::string& date, std::size_t jar_size);
std::string ExpectedStreamHeader(const std::string& date);

// The value of the Date line of a reply ("" when there is none).
std::string DateOf(std::string_view reply);
// A well-formed date ("Mon, 07 Mar 2005 14:02:09 GMT") of a time between
// from - 2 s and to + 2 s.
bool IsDateBetween(const std::string& date, std::time_t from, std::time_t to);

inline constexpr std::string_view kAcknowledgement = "HTTP/1.0 200 OK\r\n";

}  // namespace halvora::spine
