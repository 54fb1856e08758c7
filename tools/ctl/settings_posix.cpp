// Where the window keeps its settings on Linux and other POSIX systems: the per-user
// configuration folder, $XDG_CONFIG_HOME or else ~/.config.

#include "ctl/settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vm::ctl {

std::string windowSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0')
            return {};
        folder = std::string(home) + "/.config";
    }
    return folder + "/" + vm::settings::kApplication + ".conf";
}

WindowSettings readWindowSettings() {
    const std::string path = windowSettingsPath();
    if (path.empty())
        return {};
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parseWindowSettings(text.str());
}

} // namespace vm::ctl
