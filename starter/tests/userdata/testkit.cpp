#include "testkit.h"
#include "context.h"

#include <shellapi.h>
#include <stdio.h>

#include <vector>

// The starter's context, owned by the test program here.
StarterContext &starter()
{
    static StarterContext context;
    return context;
}

namespace testkit {

int failures = 0;
int checks = 0;

namespace {
struct Entry { const char *group; TestFn fn; };
std::vector<Entry> &registry() { static std::vector<Entry> r; return r; }
const char *g_current = "";

std::wstring root()
{
    static std::wstring r;
    if (r.empty()) {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        r = std::wstring(tmp) + L"meridane-userdata-tests";
        CreateDirectoryW(r.c_str(), nullptr);
    }
    return r;
}

void removeTree(const std::wstring &path)
{
    std::wstring from = path;
    from.push_back(0);
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}
} // namespace

Registrar::Registrar(const char *group, TestFn fn) { registry().push_back({group, fn}); }

void fail(const char *file, int line, const char *what)
{
    ++failures;
    const char *base = strrchr(file, '/');
    base = base ? base + 1 : file;
    printf("FAIL [%s] %s:%d: %s\n", g_current, base, line, what);
    fflush(stdout);
}

std::wstring scratch(const wchar_t *name)
{
    std::wstring path = root() + L"\\" + name;
    removeTree(path);
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

std::wstring join(const std::wstring &a, const std::wstring &b) { return a + L"\\" + b; }

void writeFile(const std::wstring &path, const std::string &content)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    WriteFile(h, content.data(), (DWORD)content.size(), &done, nullptr);
    CloseHandle(h);
}

std::string readFile(const std::wstring &path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[4096];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void makeDirs(const std::wstring &path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

void setTime(const std::wstring &path, int minutesAgo)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart -= (ULONGLONG)minutesAgo * 60 * 10000000ULL;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

std::string narrow(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, 0);
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

void regSet(const wchar_t *key, const wchar_t *name, const wchar_t *value)
{
    HKEY h;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != 0)
        return;
    if (name)
        RegSetValueExW(h, name, 0, REG_SZ, (const BYTE *)value, (DWORD)((wcslen(value) + 1) * 2));
    RegCloseKey(h);
}

bool regGet(const wchar_t *key, const wchar_t *name, std::wstring *value)
{
    HKEY h;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &h) != 0)
        return false;
    wchar_t data[1024] = {0};
    DWORD size = sizeof data - 2;
    LONG rc = RegQueryValueExW(h, name, nullptr, nullptr, (BYTE *)data, &size);
    RegCloseKey(h);
    if (rc != 0)
        return false;
    if (value)
        *value = data;
    return true;
}

void regDeleteTree(const wchar_t *key)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

} // namespace testkit

// Fail-safe: a dialog nobody answers must not hang the suite.
static DWORD WINAPI watchdog(void *)
{
    Sleep(90000);
    printf("FAIL: tests still running after 90 s\n");
    fflush(stdout);
    ExitProcess(3);
}

int main(int argc, char **argv)
{
    using namespace testkit;
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    int groups = 0;
    for (const Entry &e : registry()) {
        if (argc > 1 && strncmp(argv[1], e.group, strlen(argv[1])) != 0)
            continue;
        g_current = e.group;
        int before = failures;
        e.fn();
        ++groups;
        printf("%s %s\n", failures == before ? "ok  " : "FAIL", e.group);
        fflush(stdout);
    }
    printf("%d groups, %d checks, %d failures\n", groups, checks, failures);
    return failures ? 1 : 0;
}
