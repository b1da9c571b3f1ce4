// Stands in for the framework's (MFC) points, sizes and rectangles, kept with the base types because the
// window system uses them too.
#pragma once

#include "platform/wintypes/AfxTypes.h"
#include "platform/wintypes/Export.h"

#include <algorithm>
#include <climits>

/// Coordinates come from archives too: sums and differences stop at the ends of int rather
/// than wrap, so a hostile position gives a huge rectangle, never a reversed one or a fault.
inline LONG SaturatedCoordinate(long long value) {
    return static_cast<LONG>(std::min<long long>(std::max<long long>(value, INT_MIN), INT_MAX));
}
inline LONG SaturatedSum(LONG a, LONG b) {
    return SaturatedCoordinate(static_cast<long long>(a) + b);
}
inline LONG SaturatedDifference(LONG a, LONG b) {
    return SaturatedCoordinate(static_cast<long long>(a) - b);
}

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagSIZE {
    LONG cx;
    LONG cy;
} SIZE;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int x, int y) : SIZE{x, y} {}
    CSize(SIZE s) : SIZE(s) {}
    bool operator==(const SIZE& s) const { return cx == s.cx && cy == s.cy; }
    bool operator!=(const SIZE& s) const { return !(*this == s); }
    CSize operator+(SIZE s) const { return CSize(SaturatedSum(cx, s.cx), SaturatedSum(cy, s.cy)); }
    CSize operator-(SIZE s) const {
        return CSize(SaturatedDifference(cx, s.cx), SaturatedDifference(cy, s.cy));
    }
    CSize operator-() const { return CSize(SaturatedDifference(0, cx), SaturatedDifference(0, cy)); }
};

class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x, int y) : POINT{x, y} {}
    CPoint(POINT p) : POINT(p) {}
    explicit CPoint(SIZE s) : POINT{s.cx, s.cy} {}
    void Offset(int dx, int dy) { x = SaturatedSum(x, dx), y = SaturatedSum(y, dy); }
    void Offset(POINT p) { Offset(p.x, p.y); }
    bool operator==(const POINT& p) const { return x == p.x && y == p.y; }
    bool operator!=(const POINT& p) const { return !(*this == p); }
    CPoint& operator+=(SIZE s) { return Offset(s.cx, s.cy), *this; }
    CPoint& operator-=(SIZE s) {
        return x = SaturatedDifference(x, s.cx), y = SaturatedDifference(y, s.cy), *this;
    }
    CPoint& operator+=(POINT p) { return Offset(p.x, p.y), *this; }
    CPoint& operator-=(POINT p) {
        return x = SaturatedDifference(x, p.x), y = SaturatedDifference(y, p.y), *this;
    }
    CPoint operator+(SIZE s) const { return CPoint(SaturatedSum(x, s.cx), SaturatedSum(y, s.cy)); }
    CPoint operator-(SIZE s) const {
        return CPoint(SaturatedDifference(x, s.cx), SaturatedDifference(y, s.cy));
    }
    CPoint operator+(POINT p) const { return CPoint(SaturatedSum(x, p.x), SaturatedSum(y, p.y)); }
    CSize operator-(POINT p) const { return CSize(SaturatedDifference(x, p.x), SaturatedDifference(y, p.y)); }
    CPoint operator-() const { return CPoint(SaturatedDifference(0, x), SaturatedDifference(0, y)); }
};

/// The window system's point-in-rectangle test: left <= x < right and top <= y < bottom.
inline BOOL PtInRect(const RECT* r, POINT p) {
    return p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    CRect(POINT topLeft, SIZE size)
        : RECT{topLeft.x, topLeft.y, SaturatedSum(topLeft.x, size.cx), SaturatedSum(topLeft.y, size.cy)} {}
    CRect(POINT topLeft, POINT bottomRight) : RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y} {}

    int Width() const { return SaturatedDifference(right, left); }
    int Height() const { return SaturatedDifference(bottom, top); }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const {
        return CPoint(static_cast<LONG>((static_cast<long long>(left) + right) / 2),
                      static_cast<LONG>((static_cast<long long>(top) + bottom) / 2));
    }
    /// True when the width or height is not positive.
    BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
    BOOL PtInRect(POINT p) const { return ::PtInRect(this, p); }

    void SetRect(int l, int t, int r, int b) { left = l, top = t, right = r, bottom = b; }
    void SetRectEmpty() { SetRect(0, 0, 0, 0); }
    /// Swaps left/right and top/bottom where they are reversed.
    void NormalizeRect() {
        if (left > right) std::swap(left, right);
        if (top > bottom) std::swap(top, bottom);
    }
    void OffsetRect(int dx, int dy) {
        left = SaturatedSum(left, dx), right = SaturatedSum(right, dx);
        top = SaturatedSum(top, dy), bottom = SaturatedSum(bottom, dy);
    }
    void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
    void InflateRect(int dx, int dy) {
        left = SaturatedDifference(left, dx), right = SaturatedSum(right, dx);
        top = SaturatedDifference(top, dy), bottom = SaturatedSum(bottom, dy);
    }
    /// The overlap of two rectangles; an empty result becomes (0,0,0,0) and returns FALSE.
    BOOL IntersectRect(const RECT* a, const RECT* b) {
        CRect r(std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
                std::min(a->bottom, b->bottom));
        if (r.IsRectEmpty()) {
            SetRectEmpty();
            return FALSE;
        }
        *this = r;
        return TRUE;
    }

    bool operator==(const RECT& r) const {
        return left == r.left && top == r.top && right == r.right && bottom == r.bottom;
    }
    bool operator!=(const RECT& r) const { return !(*this == r); }
    operator RECT*() { return this; }
    operator const RECT*() const { return this; }
};

inline BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b) {
    CRect r;
    BOOL ok = r.IntersectRect(a, b);
    *dst = r;
    return ok;
}
