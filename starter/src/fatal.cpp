// Fatal-error report: message box, a line on standard output, exit code 255.
#include "context.h"

#include <stdio.h>

void reportFatal(UINT messageId, bool suggestReinstall)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    // The process ends with 255 even when the string table is damaged: a
    // missing string counts as empty, a missing message shows its number.
    wchar_t prefix[80];
    wchar_t message[1024];
    wchar_t reinstall[1024];
    if (LoadStringW(instance, 11, prefix, 80) <= 0)
        prefix[0] = 0;
    if (LoadStringW(instance, messageId, message, 1024) <= 0)
        formatText(message, 1024, L"%u", messageId);
    if (LoadStringW(instance, 12, reinstall, 1024) <= 0)
        reinstall[0] = 0;

    wchar_t text[80 + 1024 + 1024];
    copyText(text, sizeof text / sizeof text[0], prefix);
    appendText(text, sizeof text / sizeof text[0], message);
    if (suggestReinstall)
        appendText(text, sizeof text / sizeof text[0], reinstall);

    wchar_t caption[1024];
    DWORD n = GetModuleFileNameW(nullptr, caption, 1024);
    if (n == 0 || n >= 1024)
        caption[n == 0 ? 0 : 1023] = 0;
    MessageBoxW(nullptr, text, caption, MB_ICONERROR | MB_TOPMOST);

    fputws(text, stdout);
    fputwc(L'\n', stdout);
    _fcloseall();
    ExitProcess(255);
}
