// Without libFuzzer a fuzz target is a plain program: it replays its seeds and the files and
// folders it is given (a corpus, or a crash to reproduce), so the normal test run exercises it;
// with --write-seeds DIR it writes its seeds into DIR as a starting corpus for libFuzzer.
#include "FuzzDriver.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A target without built-in seeds keeps them all in its folder under corpus/.
__attribute__((weak)) std::vector<FuzzInput> fuzzSeeds() {
    return {};
}

#if !defined(KESTRO_LIBFUZZER)
namespace {

int replay(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(path))
            if (entry.path().filename().string()[0] != '.') n += replay(entry.path());
        return n;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return -1;
    }
    const FuzzInput bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<FuzzInput> seeds = fuzzSeeds();
    if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
        for (size_t i = 0; i < seeds.size(); ++i)
            if (!std::ofstream(std::string(argv[2]) + "/seed-" + std::to_string(i), std::ios::binary)
                     .write(reinterpret_cast<const char*>(seeds[i].data()), std::streamsize(seeds[i].size())))
                return 1;
        std::printf("wrote %zu seeds\n", seeds.size());
        return 0;
    }
    int n = 0;
    for (const FuzzInput& seed : seeds)
        n += LLVMFuzzerTestOneInput(seed.data(), seed.size()) == 0;
    for (int i = 1; i < argc; ++i) {
        const int got = replay(argv[i]);
        if (got < 0) return 1;
        n += got;
    }
    std::printf("replayed %d inputs\n", n);
    return 0;
}
#endif
