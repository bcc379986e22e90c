#include "runkit.h"

#include <shellapi.h>

#include <stdio.h>
#include <string.h>

namespace runkit {

int failures = 0;

namespace {

struct Group {
    const char *name;
    TestFn fn;
};

std::vector<Group> &groups()
{
    static std::vector<Group> list;
    return list;
}

} // namespace

void fail(const char *file, int line, const std::string &what)
{
    ++failures;
    const char *base = strrchr(file, '/');
    if (!base)
        base = strrchr(file, '\\');
    printf("  FAIL %s:%d: %s\n", base ? base + 1 : file, line, what.c_str());
    fflush(stdout);
}

Registrar::Registrar(const char *name, TestFn fn)
{
    groups().push_back(Group{name, fn});
}

int runGroups(int argc, wchar_t **argv)
{
    std::string only = argc > 1 ? narrow(argv[1]) : std::string();
    int ran = 0;
    for (const Group &g : groups()) {
        if (!only.empty() && only != g.name)
            continue;
        int before = failures;
        printf("%s\n", g.name);
        fflush(stdout);
        g.fn();
        printf("%s: %s\n", g.name, failures == before ? "ok" : "FAILED");
        fflush(stdout);
        ++ran;
    }
    if (ran == 0) {
        printf("no test group named %s\n", only.c_str());
        return 2;
    }
    return failures == 0 ? 0 : 1;
}

std::string narrow(const std::wstring &w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr,
                        nullptr);
    return s;
}

std::wstring widen(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

std::wstring windowsPath(const std::wstring &path)
{
    std::wstring p = path;
    if (!p.empty() && p[0] == L'/')
        p = L"Z:" + p;
    for (wchar_t &ch : p) {
        if (ch == L'/')
            ch = L'\\';
    }
    return p;
}

std::wstring join(const std::wstring &a, const std::wstring &b)
{
    if (a.empty())
        return b;
    if (a.back() == L'\\')
        return a + b;
    return a + L"\\" + b;
}

void makeDirs(const std::wstring &path)
{
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\')
            CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
}

void removeTree(const std::wstring &path)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(join(path, L"*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring item = join(path, name);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(item);
            } else {
                SetFileAttributesW(item.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(item.c_str());
            }
        } while (FindNextFileW(h, &data));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring scratch(const std::wstring &name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring path = join(join(temp, L"meridane-runs"), name);
    removeTree(path);
    makeDirs(path);
    return path;
}

void writeFile(const std::wstring &path, const std::string &content)
{
    size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos)
        makeDirs(path.substr(0, slash));
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        fail(__FILE__, __LINE__, "cannot write " + narrow(path));
        return;
    }
    DWORD written;
    WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(f);
}

std::string readFile(const std::wstring &path)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return std::string();
    std::string s;
    char buf[65536];
    DWORD got;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0)
        s.append(buf, got);
    CloseHandle(f);
    return s;
}

bool exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void copyFile(const std::wstring &from, const std::wstring &to)
{
    size_t slash = to.rfind(L'\\');
    if (slash != std::wstring::npos)
        makeDirs(to.substr(0, slash));
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        fail(__FILE__, __LINE__, "cannot copy " + narrow(from) + " to " + narrow(to));
}

Installation makeInstallation(const std::wstring &name, const std::wstring &starterExe,
                              const std::wstring &exeName)
{
    Installation inst;
    inst.root = scratch(name);
    inst.bin = join(inst.root, L"bin");
    makeDirs(inst.bin);
    inst.starter = join(inst.bin, exeName);
    inst.record = join(inst.root, L"record.txt");
    std::wstring base = exeName.substr(0, exeName.rfind(L'.'));
    inst.config = join(inst.bin, base + L".ini");
    copyFile(starterExe, inst.starter);
    return inst;
}

std::wstring quoteArgument(const std::wstring &arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t ch : arg) {
        if (ch == L'\\') {
            ++slashes;
        } else if (ch == L'"') {
            out.append(slashes * 2 + 1, L'\\');
            out += L'"';
            slashes = 0;
            continue;
        } else {
            slashes = 0;
        }
        out += ch;
    }
    out.append(slashes, L'\\');
    out += L'"';
    return out;
}

namespace {

std::vector<wchar_t> environmentBlock(const RunOptions &options, const Installation &inst)
{
    std::map<std::wstring, std::wstring> vars; // keyed by upper-case name
    std::map<std::wstring, std::wstring> names;
    wchar_t *block = GetEnvironmentStringsW();
    for (wchar_t *p = block; *p; p += wcslen(p) + 1) {
        std::wstring entry = p;
        size_t eq = entry.find(L'=', 1);
        if (eq == std::wstring::npos)
            continue;
        std::wstring name = entry.substr(0, eq);
        std::wstring upper = name;
        CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
        vars[upper] = entry.substr(eq + 1);
        names[upper] = name;
    }
    FreeEnvironmentStringsW(block);
    for (const std::wstring &name : options.unsetEnv) {
        std::wstring upper = name;
        CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
        vars.erase(upper);
    }
    std::map<std::wstring, std::wstring> extra = options.env;
    extra[L"MT_RECORD"] = inst.record;
    for (const auto &kv : extra) {
        std::wstring upper = kv.first;
        CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
        vars[upper] = kv.second;
        names[upper] = kv.first;
    }
    std::vector<wchar_t> out;
    for (const auto &kv : vars) {
        std::wstring entry = names[kv.first] + L"=" + kv.second;
        out.insert(out.end(), entry.begin(), entry.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void debugLoop(PROCESS_INFORMATION &pi, RunResult &result, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    std::string pending;
    for (;;) {
        DEBUG_EVENT ev;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs || !WaitForDebugEvent(&ev, timeoutMs - elapsed)) {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            DebugActiveProcessStop(pi.dwProcessId);
            return;
        }
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO &info = ev.u.DebugString;
            size_t units = info.nDebugStringLength;
            if (info.fUnicode) {
                std::wstring w(units, L'\0');
                SIZE_T got = 0;
                ReadProcessMemory(pi.hProcess, info.lpDebugStringData, &w[0],
                                  units * sizeof(wchar_t), &got);
                w.resize(got / sizeof(wchar_t));
                while (!w.empty() && w.back() == 0)
                    w.pop_back();
                pending += narrow(w);
            } else {
                std::string s(units, '\0');
                SIZE_T got = 0;
                ReadProcessMemory(pi.hProcess, info.lpDebugStringData, &s[0], units, &got);
                s.resize(got);
                while (!s.empty() && s.back() == 0)
                    s.pop_back();
                pending += s;
            }
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, nl);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                result.debugLines.push_back(line);
                pending.erase(0, nl + 1);
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile)
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
            break;
        default:
            break;
        }
        bool exited = ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
        if (exited)
            break;
    }
    if (!pending.empty())
        result.debugLines.push_back(pending);
}

} // namespace

RunResult run(const Installation &inst, const RunOptions &options)
{
    RunResult result;
    DeleteFileW(inst.record.c_str());
    std::wstring outFile = join(inst.root, L"stdout.txt");

    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::wstring cmd = quoteArgument(inst.starter);
    if (!options.rawCommandTail.empty()) {
        cmd += L" " + options.rawCommandTail;
    } else {
        for (const std::wstring &a : options.args)
            cmd += L" " + quoteArgument(a);
    }
    std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back(0);
    std::vector<wchar_t> env = environmentBlock(options, inst);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | (options.debugOutput ? DEBUG_ONLY_THIS_PROCESS : 0);
    // Under a loaded wine a start is now and then refused for a moment; the
    // starter itself has not run yet, so trying again hides nothing of it.
    BOOL started = FALSE;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0)
            Sleep(500);
        started = CreateProcessW(inst.starter.c_str(), cmdBuf.data(), nullptr, nullptr, TRUE, flags,
                                 env.data(), inst.bin.c_str(), &si, &pi);
        if (!started)
            startError = GetLastError();
    }
    if (!started) {
        fail(__FILE__, __LINE__,
             "cannot start " + narrow(inst.starter) + " (error " + std::to_string(startError) + ")");
        CloseHandle(out);
        return result;
    }
    if (options.debugOutput) {
        debugLoop(pi, result, options.timeoutMs);
    } else if (WaitForSingleObject(pi.hProcess, options.timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(pi.hProcess, 0xDEAD);
    }
    WaitForSingleObject(pi.hProcess, 10000);
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(out);
    result.output = readFile(outFile);
    result.record = splitLines(readFile(inst.record));
    if (result.timedOut)
        fail(__FILE__, __LINE__, "starter run timed out");
    return result;
}

std::string RunResult::value(const std::string &key) const
{
    std::string prefix = key + "=";
    for (const std::string &line : record) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    }
    return "<none>";
}

bool RunResult::has(const std::string &line) const
{
    return indexOf(line) >= 0;
}

int RunResult::indexOf(const std::string &line) const
{
    for (size_t i = 0; i < record.size(); ++i) {
        if (record[i] == line)
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> RunResult::matching(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (const std::string &line : record) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    }
    return out;
}

} // namespace runkit
