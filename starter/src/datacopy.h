// User data copying, packages, the INI section reader and small path helpers
// shared by the user-data, start-screen and parameter-file code.
#pragma once

#include <windows.h>

#include "steps.h"

// Capacity of a path buffer, in characters, terminating zero included.
enum { kPathChars = 260 };

// Joins parts into out (capacity cap characters): a, then for each further
// non-null part a separator backslash and the part. Returns false, leaving
// out empty, when the result does not fit.
bool pathJoin(wchar_t *out, size_t cap, const wchar_t *a, const wchar_t *b);
bool pathJoin(wchar_t *out, size_t cap, const wchar_t *a, const wchar_t *b, const wchar_t *c);
// Copies src into out; false (out empty) when it does not fit.
bool textCopy(wchar_t *out, size_t cap, const wchar_t *src);
// Appends src to out; false (out unchanged) when it does not fit.
bool textAppend(wchar_t *out, size_t cap, const wchar_t *src);

// True when the name is usable as one folder name below a parent: not empty,
// not made only of dots and blanks (".", "..", "..." all lead to the parent
// or above once Windows trims them), without separators or a drive colon.
bool isPlainFolderName(const wchar_t *name);
// True when path, fully resolved, lies strictly inside folder (also fully
// resolved). Used before writing or deleting below a folder.
bool isInsideFolder(const wchar_t *path, const wchar_t *folder);

bool fileExists(const wchar_t *path);   // exists and is not a folder
bool folderExists(const wchar_t *path);
bool ensureFolder(const wchar_t *path); // exists afterwards (created if needed)

// Calls action(key, value, ctx) for each entry of the section, in file order.
// Entries beginning with "@=" and entries of 260 characters or more are
// skipped. Returns false only when the buffer cannot be allocated.
// (declared in steps.h)

// Reads the string value name of an open key, up to 520 bytes (259
// characters and the terminating zero), into out. False, out empty, when it
// is missing, not a string or does not fit out.
bool readRegistryText(HKEY key, const wchar_t *name, wchar_t *out, size_t cap);

// True when both files open for reading and have the same size and
// last-write time.
bool filesMatch(const wchar_t *a, const wchar_t *b);

// Copies the tree source into target, keeping a changed target file as
// name.bak before replacing it; with remove set, deletes the unchanged copies
// and the folders that end up empty instead. True when the source folder
// was walked to its end.
bool copyTree(const wchar_t *source, const wchar_t *target, bool remove);

// Copies (or removes) the installed user data listed in installCfg's
// "\UserData\CopyToAppData" and records the user data folder under productKey.
void provisionUserData(const wchar_t *installCfg, const wchar_t *starterFolder,
                       const wchar_t *userDataFolder, const wchar_t *productKey, bool remove);

// Installs (or removes) the package described by packageFile.
void installPackage(const wchar_t *packageFile, const wchar_t *userDataFolder,
                    const wchar_t *productKey, bool remove);

// Derives the package name from its file ("C:\Pk\Tools.Extra.package" gives
// "Tools.Extra"). False when the name does not fit or is not a plain name.
bool packageNameOf(const wchar_t *packageFile, wchar_t *name, size_t cap);

// Keeps COM initialised on this thread for the scope's life; uninitialises
// only when this scope did the initialising.
class ComScope {
public:
    ComScope();
    ~ComScope();
private:
    bool owned_;
    ComScope(const ComScope &);
    ComScope &operator=(const ComScope &);
};

struct IXMLDOMDocument;
// Creates the system's XML DOM document; null when COM or the component is
// not available.
IXMLDOMDocument *createXmlDocument();
