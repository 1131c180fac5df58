#include "scratchdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <system_error>

namespace {

class scratchroot {
public:
    scratchroot()
    {
        std::filesystem::path base(testing::TempDir());
        std::random_device seed;
        std::error_code error;
        // A name nobody else holds: a fresh directory, never one left behind.
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::filesystem::path candidate = base / ("xmltests_" + std::to_string(seed()));
            if (std::filesystem::create_directory(candidate, error)) {
                path = candidate;
                break;
            }
        }
        text = path.empty() ? std::string() : path.generic_string() + "/";
    }
    ~scratchroot()
    {
        std::error_code error;
        if (!path.empty()) std::filesystem::remove_all(path, error);
    }
    std::filesystem::path path;
    std::string text;
};

scratchroot& root()
{
    static scratchroot made;
    return made;
}

} // namespace

const std::string& scratchDirectory() { return root().text; }

std::u16string scratchDirectory16()
{
    std::u16string out;
    for (char c : scratchDirectory()) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}
