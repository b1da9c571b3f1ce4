// Stands in for the application framework (MFC) on this platform: exported array instances.
#include "framework/Array.h"

// The library exports the array template for int and double, as the original did.
template class KESTRO_API CArray<int, int>;
template class KESTRO_API CArray<double, double>;

CStringArray::~CStringArray() = default;
