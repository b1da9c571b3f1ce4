#include "image/DalvoImage.h"
#include "raster/detail/MatrixTypes.h"

#include <opencv2/core.hpp>

#include <climits>
#include <cstring>

namespace kestro::detail {

int matrixTypeOf(FIBITMAP* dib) {
    if (!dib || !FreeImage_HasPixels(dib)) return -1;
    switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
        switch (FreeImage_GetBPP(dib)) {
        case 8:
            return CV_8UC1;
        case 24:
            return CV_8UC3;
        default:
            return -1;
        }
    case FIT_UINT16:
        return CV_16UC1;
    case FIT_INT16:
        return CV_16SC1;
    case FIT_INT32:
        return CV_32SC1;
    case FIT_FLOAT:
        return CV_32FC1;
    case FIT_DOUBLE:
        return CV_64FC1;
    default:
        return -1;
    }
}

} // namespace kestro::detail

namespace {

struct BitmapForm {
    FREE_IMAGE_TYPE type;
    unsigned bpp;
};

// FreeImage fixes the depth of the non-standard types itself; FIT_DOUBLE is asked for with 32.
bool bitmapFormOf(int matrixType, BitmapForm& form) {
    switch (matrixType) {
    case CV_8UC1:
        form = {FIT_BITMAP, 8};
        return true;
    case CV_8UC3:
        form = {FIT_BITMAP, 24};
        return true;
    case CV_16UC1:
        form = {FIT_UINT16, 16};
        return true;
    case CV_16SC1:
        form = {FIT_INT16, 16};
        return true;
    case CV_32SC1:
        form = {FIT_INT32, 32};
        return true;
    case CV_32FC1:
        form = {FIT_FLOAT, 32};
        return true;
    case CV_64FC1:
        form = {FIT_DOUBLE, 32};
        return true;
    default:
        return false;
    }
}

} // namespace

FIBITMAP* kestro::detail::allocateForMatrix(int matrixType, int cols, int rows) {
    BitmapForm form{};
    if (cols <= 0 || rows <= 0 || !bitmapFormOf(matrixType, form)) return nullptr;
    return FreeImage_AllocateT(form.type, cols, rows, static_cast<int>(form.bpp), 0, 0, 0);
}

int DalvoImage::copytoOpenCV(cv::Mat& matrix) const {
    const int type = kestro::detail::matrixTypeOf(m_dib);
    const unsigned width = getWidth();
    const unsigned height = getHeight();
    if (type < 0 || width > INT_MAX || height > INT_MAX) return 0;
    const int rows = static_cast<int>(height);
    matrix.create(rows, static_cast<int>(width), type);
    const size_t rowBytes = matrix.elemSize() * width;
    for (int y = 0; y < rows; ++y)
        std::memcpy(matrix.ptr(y), FreeImage_GetScanLine(m_dib, rows - 1 - y), rowBytes);
    return 1;
}

int DalvoImage::copyFromOpenCV(const cv::Mat& matrix) {
    // The old bitmap goes first, so a matrix that cannot be taken leaves the image empty; a
    // matrix over the bitmap's own pixels is read before they go.
    const BYTE* bits = m_dib ? FreeImage_GetBits(m_dib) : nullptr;
    const size_t bitBytes = bits ? size_t(FreeImage_GetPitch(m_dib)) * FreeImage_GetHeight(m_dib) : 0;
    const bool overBitmap = bits && matrix.datastart < bits + bitBytes && bits < matrix.dataend;
    if (m_dib && !overBitmap) fipWinImage::clear();
    FIBITMAP* dib = matrix.dims == 2 && matrix.data
                        ? kestro::detail::allocateForMatrix(matrix.type(), matrix.cols, matrix.rows)
                        : nullptr;
    if (!dib) {
        if (m_dib) fipWinImage::clear();
        return 0;
    }
    const size_t rowBytes = matrix.elemSize() * static_cast<size_t>(matrix.cols);
    for (int y = 0; y < matrix.rows; ++y)
        std::memcpy(FreeImage_GetScanLine(dib, matrix.rows - 1 - y), matrix.ptr(y), rowBytes);
    if (m_dib) fipWinImage::clear();
    return replace(dib);
}
