// Runs the fuzz entry point over corpus files or directories, for builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replayFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int failures = 0;
    int inputs = 0;
    for (int a = 1; a < argc; ++a) {
        const std::filesystem::path root(argv[a]);
        std::error_code error;
        if (std::filesystem::is_directory(root, error)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
                if (!entry.is_regular_file()) continue;
                failures += replayFile(entry.path());
                ++inputs;
            }
        } else {
            failures += replayFile(root);
            ++inputs;
        }
    }
    std::printf("replayed %d inputs\n", inputs);
    return (failures != 0 || inputs == 0) ? 1 : 0;
}
