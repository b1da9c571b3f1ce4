// Helpers of the drawing tests: message boxes and modal dialogs captured, patterned image objects.
#pragma once

#include <KestroImage.h>

#include "framework/ArchiveTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace drawtest {

inline std::string utf8(const CString& s) {
    return s.ToUtf8();
}

/// Captures every message box and modal dialog while it lives; the dialogs are looked at by
/// `inspect` while they are shown.
struct Captured {
    struct Box {
        std::string text;
        UINT type, help;
    };
    std::vector<Box> boxes;
    std::vector<std::string> dialogTitles;
    std::function<void(CDialog&)> inspect;

    Captured() {
        AfxSetMessageBoxHandler([this](LPCTSTR text, UINT type, UINT help) {
            boxes.push_back({utf8(text), type, help});
            return IDOK;
        });
        AfxSetModalDialogHandler([this](CDialog& dialog) -> INT_PTR {
            CString title;
            dialog.GetWindowText(title);
            dialogTitles.push_back(utf8(title));
            if (inspect) inspect(dialog);
            return IDOK;
        });
    }
    ~Captured() {
        AfxSetMessageBoxHandler(nullptr);
        AfxSetModalDialogHandler(nullptr);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
};

/// The lines of a list box.
inline std::vector<std::string> lines(const CListBox& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.GetCount(); ++i) {
        CString line;
        list.GetText(i, line);
        out.push_back(utf8(line));
    }
    return out;
}

/// An image object of a blank 8-bit w x h image whose pixel at (x, y), counted from the top,
/// holds (x + 7 * y) mod 256, with a history.
inline CDrawImage* patterned(int w, int h, const wchar_t* history = L"{Flip Vertically}") {
    auto* o = new CDrawImage;
    o->Create(w, h, 8, nullptr);
    FIBITMAP* dib = *o->GetImage();
    for (int y = 0; y < h; ++y) {
        BYTE* row = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; ++x)
            row[x] = static_cast<BYTE>(x + 7 * y);
    }
    o->GetImage()->SetPreprocessStr(history);
    return o;
}

/// The pixel at (x, y) counted from the top of an 8-bit image.
inline int pixel(DalvoImage& image, int x, int y) {
    FIBITMAP* dib = image;
    return FreeImage_GetScanLine(dib, static_cast<int>(image.getHeight()) - 1 - y)[x];
}

} // namespace drawtest
