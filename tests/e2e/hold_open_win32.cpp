// hold_open FILE PROGRAM [ARGS...]: opens FILE for writing, as an editor or
// a download in progress would, runs PROGRAM with ARGS while holding it,
// and ends with PROGRAM's exit status. Arguments must not contain spaces.

#include <process.h>
#include <windows.h>

int wmain(int argc, wchar_t* argv[]) {
    if (argc < 3) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    const intptr_t status = _wspawnv(_P_WAIT, argv[2], argv + 2);
    CloseHandle(file);
    return static_cast<int>(status);
}
