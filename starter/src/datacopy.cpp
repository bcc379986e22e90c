#include "datacopy.h"
#include "context.h"

#include <msxml.h>
#include <oleauto.h>
#include <objbase.h>
#include <wchar.h>

#include <new>

namespace {

const CLSID kDomDocumentClass =
    {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kDomDocumentInterface =
    {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

const wchar_t kCopySection[] = L"\\UserData\\CopyToAppData";


} // namespace

bool textCopy(wchar_t *out, size_t cap, const wchar_t *src)
{
    size_t n = wcslen(src);
    if (n >= cap) {
        if (cap) out[0] = 0;
        return false;
    }
    wmemcpy(out, src, n + 1);
    return true;
}

bool textAppend(wchar_t *out, size_t cap, const wchar_t *src)
{
    size_t have = wcslen(out), n = wcslen(src);
    if (have + n >= cap)
        return false;
    wmemcpy(out + have, src, n + 1);
    return true;
}

bool pathJoin(wchar_t *out, size_t cap, const wchar_t *a, const wchar_t *b)
{
    return pathJoin(out, cap, a, b, nullptr);
}

bool pathJoin(wchar_t *out, size_t cap, const wchar_t *a, const wchar_t *b, const wchar_t *c)
{
    if (!textCopy(out, cap, a))
        return false;
    const wchar_t *parts[2] = {b, c};
    for (const wchar_t *p : parts) {
        if (!p)
            continue;
        if (!textAppend(out, cap, L"\\") || !textAppend(out, cap, p)) {
            out[0] = 0;
            return false;
        }
    }
    return true;
}

bool isPlainFolderName(const wchar_t *name)
{
    if (!name || !*name)
        return false;
    bool onlyDots = true;
    for (const wchar_t *p = name; *p; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':')
            return false;
        if (*p != L'.' && *p != L' ')
            onlyDots = false;
    }
    return !onlyDots;
}

bool isInsideFolder(const wchar_t *path, const wchar_t *folder)
{
    wchar_t fullPath[kPathChars], fullFolder[kPathChars];
    DWORD n = GetFullPathNameW(path, kPathChars, fullPath, nullptr);
    DWORD m = GetFullPathNameW(folder, kPathChars, fullFolder, nullptr);
    if (n == 0 || n >= kPathChars || m == 0 || m >= kPathChars)
        return false;
    while (m > 0 && fullFolder[m - 1] == L'\\')
        fullFolder[--m] = 0;
    if (m == 0 || n <= m + 1)
        return false;
    if (CompareStringOrdinal(fullPath, (int)m, fullFolder, (int)m, TRUE) != CSTR_EQUAL)
        return false;
    return fullPath[m] == L'\\' && fullPath[m + 1] != 0;
}

bool fileExists(const wchar_t *path)
{
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool folderExists(const wchar_t *path)
{
    DWORD a = GetFileAttributesW(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ensureFolder(const wchar_t *path)
{
    if (folderExists(path))
        return true;
    return CreateDirectoryW(path, nullptr) != FALSE || folderExists(path);
}

namespace {

struct ProfileSection {
    const wchar_t *file;
    const wchar_t *section;
};

size_t fetchProfileSection(wchar_t *buffer, size_t capacity, void *ctx)
{
    const ProfileSection *s = static_cast<const ProfileSection *>(ctx);
    return GetPrivateProfileSectionW(s->section, buffer, (DWORD)capacity, s->file);
}

} // namespace

bool readSection(const wchar_t *file, const wchar_t *section, SectionAction action, void *ctx)
{
    ProfileSection s = {file, section};
    return readSectionWith(fetchProfileSection, &s, kSectionChunk, action, ctx);
}

bool readRegistryText(HKEY key, const wchar_t *name, wchar_t *out, size_t cap)
{
    if (cap)
        out[0] = 0;
    // 520 bytes hold 259 characters and the terminating zero; one more
    // character terminates a value stored without it.
    wchar_t data[kPathChars + 1];
    DWORD type = 0, size = kPathChars * sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data), &size)
            != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    data[size / sizeof(wchar_t)] = 0;
    return textCopy(out, cap, data);
}

bool filesMatch(const wchar_t *a, const wchar_t *b)
{
    HANDLE ha = CreateFileW(a, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ha == INVALID_HANDLE_VALUE)
        return false;
    HANDLE hb = CreateFileW(b, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hb == INVALID_HANDLE_VALUE) {
        CloseHandle(ha);
        return false;
    }
    LARGE_INTEGER sa, sb;
    FILETIME ta, tb;
    bool match = GetFileSizeEx(ha, &sa) && GetFileSizeEx(hb, &sb) && sa.QuadPart == sb.QuadPart
                 && GetFileTime(ha, nullptr, nullptr, &ta) && GetFileTime(hb, nullptr, nullptr, &tb)
                 && CompareFileTime(&ta, &tb) == 0;
    CloseHandle(ha);
    CloseHandle(hb);
    return match;
}

bool copyTree(const wchar_t *source, const wchar_t *target, bool remove)
{
    wchar_t pattern[kPathChars];
    if (!pathJoin(pattern, kPathChars, source, L"*"))
        return false;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(pattern, &fd);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool walkedToEnd = false;
    for (;;) {
        const wchar_t *name = fd.cFileName;
        bool dots = name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
        wchar_t src[kPathChars], dst[kPathChars];
        // Items whose path does not fit a path buffer are skipped.
        if (!dots && pathJoin(src, kPathChars, source, name)
            && pathJoin(dst, kPathChars, target, name)) {
            bool targetExists = GetFileAttributesW(dst) != INVALID_FILE_ATTRIBUTES;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (targetExists) {
                    bool match = filesMatch(src, dst);
                    if (remove) {
                        if (match)
                            DeleteFileW(dst);
                    } else if (!match) {
                        wchar_t bak[kPathChars];
                        // Without room for the backup the user's file stays untouched.
                        if (textCopy(bak, kPathChars, dst) && textAppend(bak, kPathChars, L".bak")
                            && CopyFileW(dst, bak, FALSE))
                            CopyFileW(src, dst, FALSE);
                    }
                } else if (!remove) {
                    CopyFileW(src, dst, TRUE);
                }
            } else if (targetExists || remove || CreateDirectoryW(dst, nullptr)) {
                if (copyTree(src, dst, remove) && remove)
                    RemoveDirectoryW(dst);
            }
        }
        if (!FindNextFileW(find, &fd)) {
            walkedToEnd = GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
    }
    FindClose(find);
    return walkedToEnd;
}

namespace {

struct CopyJob {
    const wchar_t *sourceBase;
    const wchar_t *targetBase;
    bool remove;
};

void copyEntry(const wchar_t *key, const wchar_t *value, void *ctx)
{
    const CopyJob *job = static_cast<const CopyJob *>(ctx);
    wchar_t source[kPathChars], target[kPathChars];
    if (!pathJoin(source, kPathChars, job->sourceBase, key))
        return;
    bool ok = *value ? pathJoin(target, kPathChars, job->targetBase, value)
                     : textCopy(target, kPathChars, job->targetBase);
    if (!ok)
        return;
    // A value such as "..\.." must not lead the copy, or the removal, out of
    // the folder it provisions.
    if (*value && !isInsideFolder(target, job->targetBase))
        return;
    // copyTree fills an existing folder only; a subfolder named by the list
    // ("Config") is created first, with any missing levels below the base.
    if (!job->remove && *value) {
        size_t base = wcslen(job->targetBase);
        for (size_t i = base + 1; target[i]; ++i) {
            if (target[i] != L'\\')
                continue;
            target[i] = 0;
            CreateDirectoryW(target, nullptr);
            target[i] = L'\\';
        }
        CreateDirectoryW(target, nullptr);
    }
    // Removing takes that subfolder away again once it is empty.
    if (copyTree(source, target, job->remove) && job->remove && *value)
        RemoveDirectoryW(target);
}

void writeStringValue(const wchar_t *productKey, const wchar_t *name, const wchar_t *text)
{
    HKEY key;
    if (!*productKey)
        return;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, productKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   (DWORD)((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void deleteValue(const wchar_t *productKey, const wchar_t *name)
{
    HKEY key;
    if (!*productKey)
        return;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, productKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

// Reads a REG_SZ of up to 520 bytes; empty when missing or unreadable.
void readStringValue(const wchar_t *productKey, const wchar_t *name, wchar_t *out, size_t cap)
{
    out[0] = 0;
    HKEY key;
    if (!*productKey || RegOpenKeyExW(HKEY_CURRENT_USER, productKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    readRegistryText(key, name, out, cap);
    RegCloseKey(key);
}

} // namespace

void provisionUserData(const wchar_t *installCfg, const wchar_t *starterFolder,
                       const wchar_t *userDataFolder, const wchar_t *productKey, bool remove)
{
    // Without a user data folder every target would land in the drive's root.
    if (userDataFolder && *userDataFolder) {
        CopyJob job = {starterFolder, userDataFolder, remove};
        readSection(installCfg, kCopySection, copyEntry, &job);
    }
    if (remove)
        deleteValue(productKey, L"UserDataDir");
    else
        writeStringValue(productKey, L"UserDataDir", userDataFolder);
}

bool packageNameOf(const wchar_t *packageFile, wchar_t *name, size_t cap)
{
    const wchar_t *base = packageFile;
    for (const wchar_t *p = packageFile; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':')
            base = p + 1;
    const wchar_t *dot = wcsrchr(base, L'.');
    size_t len = dot ? (size_t)(dot - base) : wcslen(base);
    if (len >= cap) {
        if (cap) name[0] = 0;
        return false;
    }
    wmemcpy(name, base, len);
    name[len] = 0;
    return isPlainFolderName(name);
}

ComScope::ComScope()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    owned_ = hr == S_OK || hr == S_FALSE;
}

ComScope::~ComScope()
{
    if (owned_)
        CoUninitialize();
}

IXMLDOMDocument *createXmlDocument()
{
    IXMLDOMDocument *doc = nullptr;
    if (FAILED(CoCreateInstance(kDomDocumentClass, nullptr, 23, kDomDocumentInterface,
                                reinterpret_cast<void **>(&doc))))
        return nullptr;
    return doc;
}

namespace {

// Name of the package's configuration file: FileName of the first
// Components/ConfigEntry whose FileType is "INI". False when the package is
// not one (not loadable, other root, an entry without FileType before it).
bool packageConfigName(IXMLDOMDocument *doc, const wchar_t *packageFile, wchar_t *out, size_t cap)
{
    out[0] = 0;
    bool ok = false;
    VARIANT path;
    VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(packageFile);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    IXMLDOMElement *root = nullptr;
    IXMLDOMNodeList *list = nullptr;
    BSTR rootName = nullptr, entries = SysAllocString(L"Components/ConfigEntry");
    BSTR typeAttr = SysAllocString(L"FileType"), nameAttr = SysAllocString(L"FileName");
    if (!path.bstrVal || !entries || !typeAttr || !nameAttr)
        goto done;
    if (FAILED(doc->load(path, &loaded)) || loaded != VARIANT_TRUE)
        goto done;
    if (doc->get_documentElement(&root) != S_OK || !root)
        goto done;
    if (FAILED(root->get_nodeName(&rootName)) || !rootName
        || wcscmp(rootName, L"ApplicationPackage") != 0)
        goto done;
    if (FAILED(root->selectNodes(entries, &list)) || !list)
        goto done;
    ok = true;
    for (;;) {
        IXMLDOMNode *node = nullptr;
        if (list->nextNode(&node) != S_OK || !node)
            break;
        IXMLDOMElement *element = nullptr;
        bool stop = false, found = false;
        if (SUCCEEDED(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void **>(&element)))) {
            VARIANT type;
            VariantInit(&type);
            if (element->getAttribute(typeAttr, &type) != S_OK || type.vt == VT_NULL
                || FAILED(VariantChangeType(&type, &type, 0, VT_BSTR))) {
                stop = true;
            } else if (type.bstrVal && wcscmp(type.bstrVal, L"INI") == 0) {
                VARIANT file;
                VariantInit(&file);
                if (element->getAttribute(nameAttr, &file) != S_OK || file.vt == VT_NULL
                    || FAILED(VariantChangeType(&file, &file, 0, VT_BSTR)))
                    stop = true;
                else if (!textCopy(out, cap, file.bstrVal ? file.bstrVal : L""))
                    stop = true;   // a name beyond the path buffer names no file of ours
                else
                    found = true;
                VariantClear(&file);
            }
            VariantClear(&type);
            element->Release();
        } else {
            stop = true;
        }
        node->Release();
        if (stop) {
            ok = false;
            break;
        }
        if (found)
            break;
    }
done:
    if (list) list->Release();
    if (root) root->Release();
    SysFreeString(rootName);
    SysFreeString(entries);
    SysFreeString(typeAttr);
    SysFreeString(nameAttr);
    VariantClear(&path);
    return ok;
}

} // namespace

void installPackage(const wchar_t *packageFile, const wchar_t *userDataFolder,
                    const wchar_t *productKey, bool remove)
{
    if (!packageFile || !fileExists(packageFile) || !userDataFolder || !*userDataFolder
        || !productKey || !*productKey)
        return;
    // The package's folder is taken from its full path: a relative or
    // forward-slash name would otherwise lead to the drive's root.
    wchar_t full[kPathChars], folder[kPathChars], name[kPathChars], target[kPathChars],
        valueName[kPathChars];
    DWORD fullLen = GetFullPathNameW(packageFile, kPathChars, full, nullptr);
    if (fullLen == 0 || fullLen >= kPathChars)
        return;
    packageFile = full;
    if (!textCopy(folder, kPathChars, packageFile))
        return;
    wchar_t *slash = wcsrchr(folder, L'\\');
    if (slash)
        *slash = 0;
    else
        folder[0] = 0;
    // A name such as "." or ".." would make the target the user data folder
    // itself or its parent.
    if (!packageNameOf(packageFile, name, kPathChars))
        return;
    if (!pathJoin(target, kPathChars, userDataFolder, name) || !isInsideFolder(target, userDataFolder))
        return;
    if (!textCopy(valueName, kPathChars, L"UserDataDir_") || !textAppend(valueName, kPathChars, name))
        return;
    wchar_t stored[kPathChars];
    readStringValue(productKey, valueName, stored, kPathChars);
    if (!remove) {
        if (!folderExists(target)) {
            if (!CreateDirectoryW(target, nullptr))
                return;
        } else if (wcscmp(stored, target) == 0) {
            return;
        }
    }

    ComScope com;
    IXMLDOMDocument *doc = createXmlDocument();
    if (!doc)
        return;
    wchar_t configName[kPathChars];
    bool ok = packageConfigName(doc, packageFile, configName, kPathChars);
    doc->Release();
    if (!ok)
        return;

    wchar_t configFile[kPathChars];
    if (pathJoin(configFile, kPathChars, folder, configName)) {
        CopyJob job = {folder, target, remove};
        readSection(configFile, kCopySection, copyEntry, &job);
    }
    if (remove)
        deleteValue(productKey, valueName);
    else
        writeStringValue(productKey, valueName, target);
}

void provisionUserDataStep(bool remove)
{
    StarterContext &c = starter();
    provisionUserData(c.installCfg, c.starterFolder, c.userDataFolder, c.productKey, remove);
}

void installPackageStep(bool remove)
{
    StarterContext &c = starter();
    installPackage(c.switches.packageFile, c.userDataFolder, c.productKey, remove);
}
