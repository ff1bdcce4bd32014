// Holds a file open as an editor or a virus scanner may: without sharing it for writing or
// deletion, so that it can be neither replaced nor removed. Creates READY once the file is held,
// and holds it for SECONDS.
//
//   hold-file.exe FILE READY SECONDS
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) {
        std::fprintf(stderr, "usage: hold-file FILE READY SECONDS\n");
        return 2;
    }
    HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold-file: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(ready);
    Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) * 1000);
    CloseHandle(held);
    return 0;
}
