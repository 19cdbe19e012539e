#include "app/CommandLine.h"

#include <stdexcept>

namespace halvora {
namespace {

int ParseInt(const std::string& option, const std::string& text, int low, int high) {
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value < low || value > high) {
        throw std::invalid_argument(option + " needs a number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                throw std::invalid_argument(a + " needs a value");
            }
            return args[++i];
        };
        if (a == "--headless") {
            cl.headless = true;
        } else if (a == "--help" || a == "-h") {
            cl.help = true;
        } else if (a == "--version") {
            cl.version = true;
        } else if (a == "--home") {
            cl.home = value();
        } else if (a == "--port") {
            cl.host.port = ParseInt(a, value(), 0, 65535);
        } else if (a == "--test-tone") {
            cl.host.test_tone = true;
        } else if (a == "--test-pattern") {
            cl.host.test_pattern = true;
        } else if (a == "--camera") {
            cl.host.camera = ParseInt(a, value(), 0, 4);
        } else if (a == "--record") {
            cl.host.record_file = value();
        } else if (a == "--send") {
            cl.host.send_file = value();
        } else {
            throw std::invalid_argument("unknown option '" + a + "'");
        }
    }
    return cl;
}

std::string UsageText() {
    return "Usage: halvora --headless [options]\n"
           "Broadcasts the live picture, sound and chat to viewers' browsers.\n"
           "\n"
           "  --headless         run the broadcast server without a window\n"
           "  --home DIR         program folder (setup.ini, contacts.tbl, errors.log);\n"
           "                     default: $HALVORA_HOME, else the executable's folder\n"
           "  --port N           listen on port N for this run (default: PortNumber\n"
           "                     in the codec settings, else 80)\n"
           "  --camera SLOT      start camera slot SLOT (0-4, the SLOT-th device) and\n"
           "                     make it active\n"
           "  --test-pattern     list a synthetic \"Test pattern\" camera after the real ones\n"
           "  --test-tone        take the sound from a steady test tone\n"
           "  --record FILE      record the broadcast into the stream file FILE\n"
           "  --send FILE        send the stream file FILE instead of the live media\n"
           "  --version          print the version\n"
           "  --help             this text\n"
           "\n"
           "Run fennick once first: it registers the video codec and the default settings.\n";
}

}  // namespace halvora
