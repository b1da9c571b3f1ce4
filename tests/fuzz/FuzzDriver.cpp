// Without libFuzzer a fuzz target is a plain program: it replays its seeds and the files and
// folders it is given (a corpus, or a crash to reproduce), so the normal test run exercises it;
// with --write-seeds DIR it writes its seeds into DIR as a starting corpus for libFuzzer.
#include "FuzzDriver.h"

#include <cstdio>
#include <string>

#include <dirent.h>
#include <sys/stat.h>

#if !defined(KESTRO_LIBFUZZER)
namespace {

int replay(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        int n = 0;
        if (DIR* dir = ::opendir(path.c_str())) {
            while (dirent* e = ::readdir(dir))
                if (e->d_name[0] != '.') n += replay(path + "/" + e->d_name);
            ::closedir(dir);
        }
        return n;
    }
    FuzzInput bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
        std::fclose(f);
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<FuzzInput> seeds = fuzzSeeds();
    if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
        for (size_t i = 0; i < seeds.size(); ++i) {
            std::FILE* f = std::fopen((std::string(argv[2]) + "/seed-" + std::to_string(i)).c_str(), "wb");
            if (!f) return 1;
            std::fwrite(seeds[i].data(), 1, seeds[i].size(), f);
            std::fclose(f);
        }
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
