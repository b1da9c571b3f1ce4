// A program that uses the installed library only through its umbrella header.
#include <KestroImage.h>

#include <cstdio>

int main() {
    CString name(L"consumer");
    CArray<int, int> values;
    values.Add(3);
    values.Add(4);
    if (values.GetSize() != 2 || name.GetLength() != 8) return 1;
    if (!CRuntimeClass::FromName("CObject") && CRuntimeClass::GetRegisteredCount() < 0) return 2;
    std::printf("consumer ok\n");
    return 0;
}
