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
int main(int argc, char** argv) {
    std::vector<dibtest::Bytes> blocks;
    for (const dibtest::Depth& d : dibtest::depths())
        blocks.push_back(dibtest::blockOfDepth(d));
    for (const dibtest::Hostile& h : dibtest::hostileBlocks())
        blocks.push_back(h.block);
    const bool write = argc == 3 && std::string(argv[1]) == "--write-seeds";
    for (int i = 1; i < argc && !write; ++i) { // inputs to replay: a crash, or a corpus's files
        std::FILE* f = std::fopen(argv[i], "rb");
        blocks.emplace_back();
        for (int c; f && (c = std::fgetc(f)) != EOF;)
            blocks.back().push_back(static_cast<BYTE>(c));
        if (f) std::fclose(f);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (!write) {
            LLVMFuzzerTestOneInput(blocks[i].data(), blocks[i].size());
        } else if (std::FILE* f =
                       std::fopen((std::string(argv[2]) + "/seed-" + std::to_string(i)).c_str(), "wb")) {
            std::fwrite(blocks[i].data(), 1, blocks[i].size(), f);
            std::fclose(f);
        }
    }
    std::printf("%s %zu blocks\n", write ? "wrote" : "replayed", blocks.size());
    return 0;
}
#endif
