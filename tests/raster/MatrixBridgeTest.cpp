// The bridge between images and OpenCV matrices: type tables, row order, padding, refusals.
#include "RasterTestSupport.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <memory>

using rastertest::pictureRow;

namespace {

struct BridgeCase {
    FREE_IMAGE_TYPE type;
    unsigned bpp;
    int matrixType;
};

// Every type of both tables; FIT_DOUBLE comes back from a matrix asked for with 32 bits.
const BridgeCase kCases[] = {{FIT_BITMAP, 8, CV_8UC1},  {FIT_BITMAP, 24, CV_8UC3}, {FIT_UINT16, 16, CV_16UC1},
                             {FIT_INT16, 16, CV_16SC1}, {FIT_INT32, 32, CV_32SC1}, {FIT_FLOAT, 32, CV_32FC1},
                             {FIT_DOUBLE, 64, CV_64FC1}};

// Width 5 leaves padding after the 8, 24 and 16-bit rows: it is filled with 0xAB, the pixels
// with distinct bytes.
void fillPatterned(DalvoImage& image) {
    const unsigned pitch = FreeImage_GetPitch(image), height = image.getHeight();
    std::memset(FreeImage_GetBits(image), 0xAB, size_t(pitch) * height);
    for (unsigned y = 0; y < height; ++y)
        for (unsigned i = 0; i < image.getLine(); ++i)
            pictureRow(image, int(y))[i] = BYTE(y * 64 + i * 3 + 1);
}

} // namespace

TEST(MatrixBridge, EveryTypeRoundTripsRowsFlippedLeavingPaddingAlone) {
    for (const BridgeCase& c : kCases) {
        SCOPED_TRACE(c.matrixType);
        DalvoImage image(c.type, 5, 3, c.bpp);
        fillPatterned(image);
        cv::Mat matrix;
        ASSERT_EQ(image.copytoOpenCV(matrix), 1);
        ASSERT_EQ(matrix.type(), c.matrixType);
        ASSERT_EQ(matrix.size(), cv::Size(5, 3));
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(std::memcmp(matrix.ptr(y), pictureRow(image, y), image.getLine()), 0);

        // A matrix of the right size and type whose rows are wider: filled in place, gaps kept.
        cv::Mat wide(3, 7, c.matrixType, cv::Scalar::all(7)), window = wide.colRange(1, 6);
        const uchar* before = window.data;
        ASSERT_EQ(image.copytoOpenCV(window), 1);
        EXPECT_EQ(window.data, before);
        EXPECT_EQ(cv::norm(wide.col(0), cv::NORM_INF) + cv::norm(wide.col(6), cv::NORM_INF), 14.0);

        DalvoImage back;
        ASSERT_EQ(back.copyFromOpenCV(window), 1);
        EXPECT_TRUE(back.isModified());
        EXPECT_EQ(back.getImageType(), c.type);
        EXPECT_EQ(back.getBitsPerPixel(), c.bpp);
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(std::memcmp(pictureRow(back, y), pictureRow(image, y), image.getLine()), 0);
    }
}

TEST(MatrixBridge, RefusalsLeaveMatrixOrEmptyImage) {
    // Without a bitmap and for depths outside the table the matrix is not touched.
    cv::Mat matrix(2, 2, CV_8UC1, cv::Scalar(9));
    const uchar* before = matrix.data;
    DalvoImage empty, oneBit(FIT_BITMAP, 4, 4, 1), rgba(FIT_BITMAP, 4, 4, 32), wide(FIT_UINT32, 4, 4, 32);
    for (DalvoImage* image : {&empty, &oneBit, &rgba, &wide}) {
        EXPECT_EQ(image->copytoOpenCV(matrix), 0);
        EXPECT_EQ(matrix.data, before);
        EXPECT_EQ(matrix.size(), cv::Size(2, 2));
    }
    // A matrix over the image's own scan lines reads them before they go: the picture turns over.
    std::unique_ptr<DalvoImage> own(
        rastertest::grayImage<BYTE>(5, 3, [](int x, int y) { return x + 10 * y; }));
    cv::Mat scanLines(3, 5, CV_8UC1, FreeImage_GetBits(*own), FreeImage_GetPitch(*own));
    ASSERT_EQ(own->copyFromOpenCV(scanLines), 1);
    EXPECT_EQ(pictureRow(*own, 0)[4], 24);
    // A matrix the second table lacks takes the old bitmap with it.
    const int volume[] = {2, 2, 2};
    for (const cv::Mat& refused :
         {cv::Mat(2, 2, CV_8SC1), cv::Mat(2, 2, CV_8UC4), cv::Mat(3, volume, CV_8UC1), cv::Mat()}) {
        DalvoImage image(FIT_UINT16, 4, 4, 16);
        EXPECT_EQ(image.copyFromOpenCV(refused), 0);
        EXPECT_FALSE(image.isValid());
    }
}
