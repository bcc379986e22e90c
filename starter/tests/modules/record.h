// Test modules append what they see, one line each, to the file named by
// the environment variable MT_RECORD (UTF-8).
#pragma once

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

inline void recordLine(const wchar_t *format, ...)
{
    wchar_t path[1024];
    DWORD n = GetEnvironmentVariableW(L"MT_RECORD", path, 1024);
    if (n == 0 || n >= 1024)
        return;
    static wchar_t line[40000];
    va_list args;
    va_start(args, format);
    _vsnwprintf(line, 39999, format, args);
    va_end(args);
    line[39999] = 0;
    static char utf8[120000];
    int len = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8 - 2, nullptr, nullptr);
    if (len <= 0)
        return;
    utf8[len - 1] = '\n';
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(f, utf8, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(f);
}

// An integer from the environment, fallback when unset.
inline int envInt(const wchar_t *name, int fallback)
{
    wchar_t text[64];
    DWORD n = GetEnvironmentVariableW(name, text, 64);
    if (n == 0 || n >= 64)
        return fallback;
    return _wtoi(text);
}

// Environment value or "<unset>".
inline const wchar_t *envText(const wchar_t *name)
{
    // 32767 characters: the largest buffer whose size in bytes fits 16 bits
    // (some implementations keep the size in a 16-bit field).
    static wchar_t text[32767];
    SetLastError(0);
    DWORD n = GetEnvironmentVariableW(name, text, 32767);
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return L"<unset>";
    if (n >= 32767)
        return L"<too long>";
    return text;
}

// File name of the module that holds this code.
inline const wchar_t *selfName()
{
    static wchar_t path[MAX_PATH];
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
                           | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&selfName), &self);
    GetModuleFileNameW(self, path, MAX_PATH);
    const wchar_t *slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}
