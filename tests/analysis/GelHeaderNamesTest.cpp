// The gel analysis header brings no Windows name: this file defines them for itself, as code that
// never heard of the host's framework does, and stops compiling if the header leaks one (a macro,
// a function, a type or an unscoped enumerator of the same name clashes with a variable).
#include "analysis/GelAnalysis.h"

#include <gtest/gtest.h>

constexpr int RGB = 1, Sleep = 2, GetDC = 3, SetPixel = 4, image = 5, line = 6, rect = 7, BOOL = 8, DWORD = 9,
              HWND = 10, CString = 11, CRect = 12, TRUE = 13, MulDiv = 14;
static_assert(RGB + Sleep + GetDC + SetPixel + image + line + rect + BOOL + DWORD + HWND + CString + CRect +
                  TRUE + MulDiv ==
              105);

TEST(GelHeader, LeavesTheWindowsNamesToItsUser) {
    const kestro::gel::GreyView empty{};
    EXPECT_THROW(kestro::gel::PreparedGel{empty}, kestro::gel::ArgumentError);
}
