#include "tests/spine/ReplyExpectations.h"

#include "server/HttpReplies.h"

namespace halvora::spine {

std::string ExpectedAppletPage(const std::string& address, int port) {
    return "<html><head><title>Client</title><meta http-equiv=Content-Type content=text/html; charset=iso-8859-1>"
           "<style type=text/css><!--body {\tmargin-left: 0px;\tmargin-top: 0px;\tmargin-right: 0px;\t"
           "margin-bottom: 0px;}--></style></head><body><applet codebase= \".\" code=Quillon name=NetVideo "
           "width=402 height=465 archive=client.jar><param name=port value=" +
           std::to_string(port) + "><param name=PropertyFile value=prop1.skn><param name=address value=" + address +
           "></applet></body></html>";
}

namespace {
std::string Common(const std::string& date) {
    return "HTTP/1.0 200 OK\r\nDate: " + date + "\r\nServer: Orlanbrook/1.0.0\r\nConnection: Keep-Alive\r\n";
}
}  // namespace

std::string ExpectedPageHeader(const std::string& date, std::size_t page_length) {
    return Common(date) + "Content-type: text/html\r\nContent-Length: " + std::to_string(page_length) + "\r\n\r\n";
}

std::string ExpectedJarHeader(const std::string& date, std::size_t jar_size) {
    return Common(date) + "Content-type: application/octet-stream\r\nAccept-Ranges: bytes\r\nContent-Length: " +
           std::to_string(jar_size) + "\r\n\r\n";
}

std::string ExpectedStreamHeader(const std::string& date) {
    return Common(date) + "Content-type: text/html\r\nContent-Length: 1000000000\r\n\r\n";
}

std::string DateOf(std::string_view reply) {
    const auto at = reply.find("\r\nDate: ");
    if (at == std::string_view::npos) {
        return {};
    }
    const auto start = at + 8;
    const auto end = reply.find("\r\n", start);
    return end == std::string_view::npos ? std::string() : std::string(reply.substr(start, end - start));
}

bool IsDateBetween(const std::string& date, std::time_t from, std::time_t to) {
    // HttpDate of fixed times is checked on its own; here it only names the
    // seconds the reply may have been built in.
    for (std::time_t t = from - 2; t <= to + 2; ++t) {
        if (HttpDate(t) == date) {
            return true;
        }
    }
    return false;
}

}  // namespace halvora::spine
