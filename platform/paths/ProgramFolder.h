#pragma once

#include <filesystem>

namespace halvora {

// The folder of the running executable (from /proc/self/exe).
std::filesystem::path ExecutableFolder();

// The program folder: where setup.ini, contacts.tbl, errors.log, Languages/,
// HELP/ and Skins/ live. The executable's folder unless HALVORA_HOME or an
// explicit SetProgramFolder (the --home option) names another.
std::filesystem::path ProgramFolder();
void SetProgramFolder(const std::filesystem::path& folder);

}  // namespace halvora
