// Fuzz target of the archive reader: one object envelope (any registered class, so the
// library's own Serialize code is fuzzed too), then counted strings and counts until the
// bytes run out. Anything but CArchiveException, CMemoryException or a clean return is a bug;
// the sanitizers report crashes and leaks.
#include "FuzzDriver.h"

#include "framework/afx.h"
#include "image/DalvoImage.h"
#include "raster/RasterImageGS16.h"

#include <cstdint>
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

// Envelopes of the library's serialisable classes followed by strings and counts.
std::vector<FuzzInput> fuzzSeeds() {
    std::vector<FuzzInput> seeds;
    DalvoImage image(FIT_UINT16, 5, 3, 16);
    image.AddPreprocessStr(L"Crop");
    fipWinImage display(FIT_BITMAP, 4, 2, 8);
    RasterImageGS16 raster(3, 2);
    const CObject* objects[] = {&image, &display, &raster};
    for (const CObject* object : objects) {
        CMemFile file;
        {
            CArchive ar(&file, CArchive::store);
            ar.WriteObject(object);
            ar << BYTE(1) << CString(L"{Crop}\u00e4") << BYTE(0);
            ar.WriteCount(70000);
            ar.Close();
        }
        const BYTE* bytes = file.GetBuffer();
        seeds.emplace_back(bytes, bytes + file.GetLength());
    }
    return seeds;
}
