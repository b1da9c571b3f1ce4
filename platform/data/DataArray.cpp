// Stands in for KestroData, the maker's sibling data-array library.
#include "platform/data/DataArray.h"

#include <algorithm>
#include <climits>
#include <cstdint>

CIntDataArray::~CIntDataArray() = default;

int CIntDataArray::GetMax() const {
    const int* data = GetData();
    return data ? *std::max_element(data, data + GetSize()) : 0;
}

int CIntDataArray::GetMin() const {
    const int* data = GetData();
    return data ? *std::min_element(data, data + GetSize()) : 0;
}

namespace {
// Every partial sum of ints fits in 64 bits for any array a process can hold (< 2^32 elements).
std::int64_t sum64(const int* data, INT_PTR count) {
    std::int64_t sum = 0;
    for (INT_PTR i = 0; i < count; ++i)
        sum += data[i];
    return sum;
}
} // namespace

int CIntDataArray::GetMean() const {
    const int* data = GetData();
    if (!data) return 0;
    // |mean| never exceeds the largest |element|, so the quotient always fits in an int.
    return static_cast<int>(sum64(data, GetSize()) / GetSize());
}

int CIntDataArray::GetSum() const {
    const int* data = GetData();
    if (!data) return 0;
    const std::int64_t sum = sum64(data, GetSize());
    return static_cast<int>(std::clamp<std::int64_t>(sum, INT_MIN, INT_MAX));
}

CPointArray::~CPointArray() = default;
