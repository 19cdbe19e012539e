// Writes many registry values as fast as it can, for the test of two processes
// writing the same registry file at once:
//   registry_writer FILE PREFIX COUNT
// writes the dwords PREFIX0 .. PREFIX<COUNT-1> (value i) and, after each, the
// string "Last" = PREFIX<i>, which both writers fight over.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/registry/RegistryStore.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: registry_writer FILE PREFIX COUNT\n");
        return 2;
    }
    try {
        halvora::RegistryStore store(argv[1]);
        const std::string prefix = argv[2];
        const int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            const std::string name = prefix + std::to_string(i);
            store.WriteDWord("Software\\Halvora\\Race", name, static_cast<std::uint32_t>(i));
            store.WriteString("Software\\Halvora\\Race", "Last", name);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "registry_writer: %s\n", e.what());
        return 1;
    }
    return 0;
}
