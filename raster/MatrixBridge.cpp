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
    // The old bitmap goes first, so a matrix that cannot be taken leaves the image empty.
    if (m_dib) fipWinImage::clear();
    BitmapForm form{};
    if (matrix.dims != 2 || !matrix.data || matrix.rows < 1 || matrix.cols < 1 ||
        !bitmapFormOf(matrix.type(), form)) {
        return 0;
    }
    FIBITMAP* dib = FreeImage_AllocateT(form.type, static_cast<int>(matrix.cols),
                                        static_cast<int>(matrix.rows), static_cast<int>(form.bpp), 0, 0, 0);
    if (!dib) return 0;
    const size_t rowBytes = matrix.elemSize() * static_cast<size_t>(matrix.cols);
    for (int y = 0; y < matrix.rows; ++y)
        std::memcpy(FreeImage_GetScanLine(dib, matrix.rows - 1 - y), matrix.ptr(y), rowBytes);
    return replace(dib);
}
