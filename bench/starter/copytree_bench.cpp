// copyTree against a plain recursive copy of the same user-data tree.
// Usage: copytree_bench [folders] [files per folder] [rounds]
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "context.h"
#include "datacopy.h"

// The starter's context; the copy steps read it, the benchmark does not.
StarterContext &starter()
{
    static StarterContext context;
    return context;
}

namespace {

double now()
{
    static LARGE_INTEGER freq = {};
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)freq.QuadPart;
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

// The baseline: walk and copy everything, no comparison, no backups.
void plainCopy(const std::wstring &src, const std::wstring &dst)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((src + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring s = src + L"\\" + name, d = dst + L"\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CreateDirectoryW(d.c_str(), nullptr);
            plainCopy(s, d);
        } else {
            CopyFileW(s.c_str(), d.c_str(), FALSE);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

size_t countFiles(const std::wstring &dir)
{
    size_t n = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        n += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? countFiles(dir + L"\\" + name) : 1;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int folders = argc > 1 ? atoi(argv[1]) : 60;
    int perFolder = argc > 2 ? atoi(argv[2]) : 50;
    int rounds = argc > 3 ? atoi(argv[3]) : 3;
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    std::wstring root = std::wstring(tmp) + L"copytree-bench";
    removeTree(root);
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring src = root + L"\\src";
    CreateDirectoryW(src.c_str(), nullptr);

    std::string payload(8192, 'x');
    size_t bytes = 0;
    srand(7);
    for (int f = 0; f < folders; ++f) {
        wchar_t dir[64];
        swprintf(dir, 64, L"\\group%02d", f % 10);
        std::wstring d = src + dir;
        CreateDirectoryW(d.c_str(), nullptr);
        swprintf(dir, 64, L"\\set%03d", f);
        d += dir;
        CreateDirectoryW(d.c_str(), nullptr);
        for (int i = 0; i < perFolder; ++i) {
            wchar_t name[64];
            swprintf(name, 64, L"\\file%03d.cfg", i);
            HANDLE h = CreateFileW((d + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD len = 256 + (DWORD)(rand() % 7936), done;
            WriteFile(h, payload.data(), len, &done, nullptr);
            CloseHandle(h);
            bytes += len;
        }
    }
    size_t files = countFiles(src);
    printf("tree: %zu files in %d folders, %.1f MiB\n", files, folders + 10, bytes / 1048576.0);

    std::vector<double> plain, fresh, upToDate, changed, removal;
    for (int r = 0; r < rounds; ++r) {
        std::wstring a = root + L"\\plain", b = root + L"\\tree";
        removeTree(a);
        removeTree(b);
        CreateDirectoryW(a.c_str(), nullptr);
        CreateDirectoryW(b.c_str(), nullptr);
        double t0 = now();
        plainCopy(src, a);
        double t1 = now();
        bool ok1 = copyTree(src.c_str(), b.c_str(), false);
        double t2 = now();
        bool ok2 = copyTree(src.c_str(), b.c_str(), false);
        double t3 = now();
        // Every tenth folder changed by the user: backups and copies there.
        for (int f = 0; f < folders; f += 10) {
            wchar_t name[96];
            swprintf(name, 96, L"\\group%02d\\set%03d\\file000.cfg", f % 10, f);
            HANDLE h = CreateFileW((b + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD done;
            WriteFile(h, "mine", 4, &done, nullptr);
            CloseHandle(h);
        }
        double t4 = now();
        bool ok3 = copyTree(src.c_str(), b.c_str(), false);
        double t5 = now();
        bool ok4 = copyTree(src.c_str(), b.c_str(), true);
        double t6 = now();
        if (!ok1 || !ok2 || !ok3 || !ok4 || countFiles(a) != files) {
            printf("round %d: copy incomplete\n", r);
            return 1;
        }
        plain.push_back(t1 - t0);
        fresh.push_back(t2 - t1);
        upToDate.push_back(t3 - t2);
        changed.push_back(t5 - t4);
        removal.push_back(t6 - t5);
        size_t left = countFiles(b);
        if (r == 0)
            printf("after removal %zu files are left (the .bak copies kept of the changed files)\n", left);
    }
    printf("median of %d rounds, seconds (files/s):\n", rounds);
    printf("  plain recursive copy, empty target   %.3f  (%.0f)\n", median(plain), files / median(plain));
    printf("  copyTree, empty target               %.3f  (%.0f)\n", median(fresh), files / median(fresh));
    printf("  copyTree, target up to date          %.3f  (%.0f)\n", median(upToDate), files / median(upToDate));
    printf("  copyTree, %d files changed by user    %.3f\n", (folders + 9) / 10, median(changed));
    printf("  copyTree remove                      %.3f  (%.0f)\n", median(removal), files / median(removal));
    removeTree(root);
    return 0;
}
