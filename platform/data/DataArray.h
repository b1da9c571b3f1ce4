// Stands in for KestroData, the maker's sibling data-array library: CIntDataArray and CPointArray.
#pragma once

#include "platform/framework/afx.h"

/// A dynamic array of int (the framework's CArray<int,int>) with the statistics of the data-array
/// library. Callers pass it by pointer and keep ownership.
/// An empty array reports 0 for GetMin, GetMax, GetMean and GetSum, so that arithmetic done
/// with those values without a guard stays defined.
class KESTRO_API CIntDataArray : public CArray<int, int> {
public:
    CIntDataArray() = default;
    CIntDataArray(const CIntDataArray&) = default;
    CIntDataArray& operator=(const CIntDataArray&) = default;
    ~CIntDataArray() override;

    /// The largest element; 0 for an empty array.
    int GetMax() const;
    /// The smallest element; 0 for an empty array.
    int GetMin() const;
    /// The mean, truncated toward zero (sum taken in 64 bits, so exact); 0 for an empty array.
    int GetMean() const;
    /// The sum of all elements, taken in 64 bits and saturated to the int range
    /// (INT_MAX or INT_MIN) when it does not fit; 0 for an empty array.
    int GetSum() const;
};

/// A dynamic array of points (the framework's CArray<CPoint,CPoint&>); callers keep ownership.
class KESTRO_API CPointArray : public CArray<CPoint, CPoint&> {
public:
    CPointArray() = default;
    CPointArray(const CPointArray&) = default;
    CPointArray& operator=(const CPointArray&) = default;
    ~CPointArray() override;
};
