// Stand-in for the start-screen program: appends its command line (UTF-8)
// and a line feed to the file named by MERIDANE_SS_RECORD, then exits.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"MERIDANE_SS_RECORD", path, MAX_PATH))
        return 2;
    char line[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line - 1, nullptr, nullptr);
    if (n <= 0)
        return 3;
    line[n - 1] = '\n';
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 4;
    DWORD done;
    WriteFile(h, line, (DWORD)n, &done, nullptr);
    CloseHandle(h);
    return 0;
}
