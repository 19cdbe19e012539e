#include "server/HttpReplies.h"

#include <cstdio>

namespace halvora {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::string_view kHeaderStart = "HTTP/1.0 200 OK\r\nDate: ";
constexpr std::string_view kServerLines = "\r\nServer: Orlanbrook/1.0.0\r\nConnection: Keep-Alive\r\n";

}  // namespace

std::string HttpDate(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[128];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday % 7], utc.tm_mday,
                  kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string HttpDate() { return HttpDate(std::time(nullptr)); }

std::string AppletPage(std::string_view local_address, int local_port) {
    std::string page;
    page.reserve(512);
    page.append(
        "<html><head><title>Client</title><meta http-equiv=Content-Type content=text/html; "
        "charset=iso-8859-1><style type=text/css><!--body {\tmargin-left: 0px;\tmargin-top: 0px;\t"
        "margin-right: 0px;\tmargin-bottom: 0px;}--></style></head><body><applet codebase= ");
    page.append("\".\"");
    page.append(
        " code=Quillon name=NetVideo width=402 height=465 archive=client.jar><param name=port value=");
    page.append(std::to_string(local_port));
    page.append("><param name=PropertyFile value=prop1.skn><param name=address value=");
    page.append(local_address);
    page.append("></applet></body></html>");
    return page;
}

std::string AppletPageHeader(std::string_view date, std::size_t page_length) {
    std::string h;
    h.append(kHeaderStart).append(date).append(kServerLines);
    h.append("Content-type: text/html\r\nContent-Length: ").append(std::to_string(page_length)).append("\r\n\r\n");
    return h;
}

std::string ClientJarHeader(std::string_view date, std::size_t jar_size) {
    std::string h;
    h.append(kHeaderStart).append(date).append(kServerLines);
    h.append("Content-type: application/octet-stream\r\nAccept-Ranges: bytes\r\nContent-Length: ")
        .append(std::to_string(jar_size))
        .append("\r\n\r\n");
    return h;
}

std::string StreamReplyHeader(std::string_view date) {
    std::string h;
    h.append(kHeaderStart).append(date).append(kServerLines);
    h.append("Content-type: text/html\r\nContent-Length: 1000000000\r\n\r\n");
    return h;
}

}  // namespace halvora
