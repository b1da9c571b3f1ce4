// Fuzz target of the memory DIB reader: the input is the block. A block the reader takes must
// give an image whose own block reads back to the same bytes; anything it refuses must leave
// the image as it was. The sanitizers report reads and writes outside the block or the bitmap.
//
// Built with clang and libFuzzer it is a libFuzzer target; otherwise its main replays the
// exchange tests' blocks (every depth and the hostile table) and any files given, and with
// --write-seeds DIR it writes those blocks into DIR as a starting corpus.
#include "image/DibBlocks.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fipWinImage image;
    dibtest::paint(image, dibtest::depth("1"), 3, 1);
    const dibtest::Bytes before = dibtest::blockOf(image);
    if (!dibtest::readBlock(image, dibtest::Bytes(data, data + size))) {
        if (dibtest::blockOf(image) != before) std::abort();
        return 0;
    }
    const dibtest::Bytes block = dibtest::blockOf(image);
    fipWinImage again;
    if (!dibtest::readBlock(again, block) || dibtest::blockOf(again) != block) std::abort();
    return 0;
}

#if !defined(KESTRO_LIBFUZZER)
namespace {

std::vector<dibtest::Bytes> seeds() {
    std::vector<dibtest::Bytes> all;
    for (const dibtest::Depth& d : dibtest::depths())
        all.push_back(dibtest::blockOfDepth(d));
    for (const dibtest::Hostile& h : dibtest::hostileBlocks())
        all.push_back(h.block);
    return all;
}

dibtest::Bytes readFile(const char* path) {
    dibtest::Bytes bytes;
    if (std::FILE* f = std::fopen(path, "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            bytes.push_back(static_cast<BYTE>(c));
        std::fclose(f);
    }
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<dibtest::Bytes> blocks = seeds();
    if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const std::string path = std::string(argv[2]) + "/seed-" + std::to_string(i);
            if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fwrite(blocks[i].data(), 1, blocks[i].size(), f);
                std::fclose(f);
            }
        }
        std::printf("wrote %zu seeds\n", blocks.size());
        return 0;
    }
    for (const dibtest::Bytes& b : blocks)
        LLVMFuzzerTestOneInput(b.data(), b.size());
    for (int i = 1; i < argc; ++i) {
        const dibtest::Bytes b = readFile(argv[i]);
        LLVMFuzzerTestOneInput(b.data(), b.size());
    }
    std::printf("replayed %zu blocks\n", blocks.size() + std::size_t(argc - 1));
    return 0;
}
#endif
