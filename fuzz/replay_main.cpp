// Runs a fuzz target over saved inputs without libFuzzer, so any compiler
// can replay the seed corpus and the regression inputs as ordinary tests.
//
//   replay FILE_OR_DIRECTORY...
//
// Directories are read one level deep; entries that are not regular files
// (FIFOs, symlinks to directories) are skipped.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

int replayFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return 0;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const auto& entry : fs::directory_iterator(path)) {
                if (entry.is_regular_file(error)) replayed += replayFile(entry.path());
            }
        } else if (fs::is_regular_file(path, error)) {
            replayed += replayFile(path);
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
