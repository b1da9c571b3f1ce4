// Fuzz target of the memory DIB reader: the input is the block. A block the reader takes must
// give an image whose own block reads back to the same bytes (but for 16-bit RGB, whose block
// says BI_BITFIELDS and holds no masks); anything it refuses must leave the image as it was. The sanitizers
// report reads and writes outside the block or the bitmap.
#include "FuzzDriver.h"

#include "image/DibBlocks.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fipWinImage image;
    dibtest::paint(image, dibtest::depth("1"), 3, 1);
    const dibtest::Bytes before = dibtest::blockOf(image);
    if (!dibtest::readBlock(image, dibtest::Bytes(data, data + size))) {
        if (dibtest::blockOf(image) != before) std::abort();
        return 0;
    }
    const dibtest::Bytes block = dibtest::blockOf(image);
    if (image.getImageType() == FIT_BITMAP && image.getBitsPerPixel() == 16) return 0;
    fipWinImage again;
    if (!dibtest::readBlock(again, block) || dibtest::blockOf(again) != block) std::abort();
    return 0;
}

// Every depth and the hostile-block table of the exchange tests.
std::vector<FuzzInput> fuzzSeeds() {
    std::vector<FuzzInput> seeds;
    for (const dibtest::Depth& d : dibtest::depths())
        seeds.push_back(dibtest::blockOfDepth(d));
    for (const dibtest::Hostile& h : dibtest::hostileBlocks())
        seeds.push_back(h.block);
    return seeds;
}
