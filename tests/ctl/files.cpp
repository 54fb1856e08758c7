// The file helpers of process.h, on the standard library alone, so that the command line's
// unit tests build for Windows too.

#include "process.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vm::test {

std::string temporaryPath(const std::string& name) {
    // One folder for the test program, removed when it ends; one folder in it per path.
    struct Root {
        std::filesystem::path path;
        Root() {
            std::random_device random;
            const std::filesystem::path base = std::filesystem::temp_directory_path();
            for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
                const auto folder = base / ("vm3870ctl-test-" + std::to_string(random()));
                if (std::filesystem::create_directory(folder))
                    path = folder;
            }
            if (path.empty())
                throw std::runtime_error("cannot make a temporary folder");
        }
        ~Root() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Root root;
    static int count = 0;
    const std::filesystem::path folder = root.path / std::to_string(++count);
    std::filesystem::create_directory(folder);
    return (folder / name).string();
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace vm::test
