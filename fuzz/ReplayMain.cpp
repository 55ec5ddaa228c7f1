// Replays inputs through a fuzz entry without libFuzzer (linked with the
// decode entry as untwx_fuzz_replay, with the round-trip one as
// untwx_roundtrip_replay):
//   untwx_fuzz_replay PATH...   (files, or folders read recursively)
// A broken promise aborts inside the entry; a missing path or no input at
// all is an error too, so an empty corpus cannot pass unnoticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

bool Replay(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        std::error_code error;
        if (fs::is_directory(path, error)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::recursive_directory_iterator(path))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files) {
                if (!Replay(file))
                    return 1;
                ++replayed;
            }
        } else if (fs::is_regular_file(path, error)) {
            if (!Replay(path))
                return 1;
            ++replayed;
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 1;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...  (no input given)\n", argv[0]);
        return 1;
    }
    std::fprintf(stderr, "%zu inputs replayed, every ending kept the promise\n", replayed);
    return 0;
}
