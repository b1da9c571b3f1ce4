// Stands in for the application framework (MFC) on this platform: exported array instances.
#include "platform/framework/Array.h"

// The library exports the array template for int and double, as the original did.
template class CArray<int, int>;
template class CArray<double, double>;

CStringArray::~CStringArray() = default;
