// Test programs start like the installer: COM on the main thread and the
// process locale of the program ("chs", code page 936).
#include <windows.h>
#include <objbase.h>

#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setlocale(LC_ALL, "chs");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
