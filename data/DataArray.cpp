// Stands in for KestroData, the maker's sibling data-array library.
#include "data/DataArray.h"

CIntDataArray::~CIntDataArray() = default;
int CIntDataArray::GetMax() const { return 0; }
int CIntDataArray::GetMin() const { return 0; }
int CIntDataArray::GetMean() const { return 0; }
int CIntDataArray::GetSum() const { return 0; }

CPointArray::~CPointArray() = default;
