// Fuzz target of the archive reader: one object envelope (any registered class, so the
// library's own Serialize code is fuzzed too), then counted strings and counts until the
// bytes run out. Anything but CArchiveException, CMemoryException or a clean return is a bug;
// the sanitizers report crashes and leaks.
//
// Built with clang and libFuzzer it is a libFuzzer target; otherwise its main replays the
// files and folders given on the command line (a corpus, or a crash to reproduce).
#include "framework/afx.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<BYTE> copy(data, data + size);
    CMemFile file(copy.empty() ? nullptr : copy.data(), static_cast<UINT>(copy.size()));
    CArchive ar(&file, CArchive::load);
    try {
        // The first envelope cannot refer back to anything, so the object is new and ours.
        delete ar.ReadObject(nullptr);
        while (ar.BytesLeft() > 0) {
            BYTE what;
            ar >> what;
            if (what & 1) {
                CString s;
                ar >> s;
            } else {
                ar.ReadCount();
            }
        }
    } catch (CArchiveException&) {
    } catch (CMemoryException&) {
    } catch (CFileException&) {
    }
    return 0;
}

#if !defined(KESTRO_LIBFUZZER)
// Replays the files given, and every file in the folders given.
int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    int n = 0;
    auto replay = [&n](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++n;
    };
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) replay(argv[i]);
        else
            for (const auto& entry : fs::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file()) replay(entry.path());
    }
    std::printf("replayed %d inputs\n", n);
    return 0;
}
#endif
