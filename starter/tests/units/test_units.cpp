// The starter's pure pieces: rebuilt command line, switch tokeniser, flag
// scan, search path expansion, final command line, bounded text.
#include "runkit.h"

#include <shellapi.h>

#include "cmdline.h"
#include "context.h"
#include "expand.h"

#include <string>
#include <vector>

using runkit::narrow;

namespace {

// Arguments as the starter receives them: the program first.
struct Argv {
    std::vector<std::wstring> texts;
    std::vector<wchar_t *> pointers;
    explicit Argv(std::vector<std::wstring> args) : texts(std::move(args))
    {
        texts.insert(texts.begin(), L"C:\\P\\Meridane.exe");
        for (std::wstring &t : texts)
            pointers.push_back(&t[0]);
    }
    int argc() const { return static_cast<int>(pointers.size()); }
    wchar_t *const *argv() const { return pointers.data(); }
};

std::string rebuilt(std::vector<std::wstring> args, size_t *capacity = nullptr)
{
    Argv a(std::move(args));
    size_t cap = 0;
    wchar_t *text = rebuildCommandLine(a.argc(), a.argv(), &cap);
    std::string s = text ? narrow(text) : "<null>";
    if (capacity)
        *capacity = cap;
    freeText(text);
    return s;
}

// The arguments the system's splitting gives back from the rebuilt text.
std::vector<std::wstring> roundTrip(const std::vector<std::wstring> &args)
{
    Argv a(args);
    wchar_t *text = rebuildCommandLine(a.argc(), a.argv(), nullptr);
    std::wstring line = L"x.exe " + std::wstring(text ? text : L"");
    freeText(text);
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(line.c_str(), &argc);
    std::vector<std::wstring> out;
    for (int i = 1; argv && i < argc; ++i)
        out.push_back(argv[i]);
    LocalFree(argv);
    return out;
}

StarterSwitches tokenise(std::vector<std::wstring> args)
{
    Argv a(std::move(args));
    StarterSwitches s = {};
    tokeniseSwitches(a.argc(), a.argv(), &s);
    return s;
}

StarterFlags flags(std::vector<std::wstring> args)
{
    Argv a(std::move(args));
    StarterFlags f = {};
    scanFlags(a.argc(), a.argv(), &f);
    return f;
}

std::string expand(const wchar_t *templ, size_t capacity = kStarterPathList)
{
    const wchar_t *inserts[8] = {L"C:\\P", L"C:\\P\\bin", L"D:\\cwd", L"four", L"%5", L"six",
                                 L"seven", nullptr};
    std::vector<wchar_t> out(capacity);
    expandTemplate(templ, inserts, out.data(), capacity);
    return narrow(out.data());
}

} // namespace

TEST_GROUP(CommandLineRebuild)
{
    size_t cap = 0;
    // No arguments: empty text, capacity for the terminating zero only.
    CHECK_EQ(rebuilt({}, &cap), "");
    CHECK(cap == 1);
    // Each argument quoted and followed by one blank.
    CHECK_EQ(rebuilt({L"a", L"b c"}, &cap), "\"a\" \"b c\" ");
    CHECK(cap == (1 + 3) + (3 + 3) + 1);
    // An empty argument stays as a pair of quotes.
    CHECK_EQ(rebuilt({L"-p", L""}), "\"-p\" \"\" ");
    // The capacity is exactly what the text needs.
    std::wstring longArg(5000, L'x');
    CHECK(rebuilt({longArg}, &cap).size() == 5003);
    CHECK(cap == 5004);

    // A trailing backslash is doubled so it cannot escape the closing quote;
    // inner quotes are escaped, with the backslashes before them doubled.
    CHECK_EQ(rebuilt({L"C:\\dir\\", L"/x"}, &cap), "\"C:\\dir\\\\\" \"/x\" ");
    CHECK(cap == 17);
    CHECK_EQ(rebuilt({L"a\\\"b"}), "\"a\\\\\\\"b\" ");

    // Whatever the argument, the system's splitting gives it back unchanged.
    std::vector<std::wstring> odd = {L"C:\\dir\\", L"\\\\", L"\"", L"\\\"", L"a\\\\\"b\\",
                                     L"", L"tab\there", L"\"\"", L"end\\\\"};
    std::vector<std::wstring> back = roundTrip(odd);
    CHECK(back.size() == odd.size());
    for (size_t i = 0; i < odd.size() && i < back.size(); ++i)
        CHECK_EQ(narrow(back[i]), narrow(odd[i]));
}

TEST_GROUP(Tokeniser)
{
    // -P and /p both set the profile, any case; later occurrences win.
    CHECK_EQ(narrow(tokenise({L"-P", L"First"}).profileName), "First");
    CHECK_EQ(narrow(tokenise({L"/p", L"Second"}).profileName), "Second");
    CHECK_EQ(narrow(tokenise({L"-p", L"one", L"-p", L"two"}).profileName), "two");

    // All five letters.
    StarterSwitches all = tokenise({L"-a", L"App", L"-B", L"x64", L"/g", L"C:\\k\\t.package",
                                    L"-r", L"Work=1", L"-p", L"Prof"});
    CHECK_EQ(narrow(all.ddeAppName), "App");
    CHECK_EQ(narrow(all.platformName), "x64");
    CHECK_EQ(narrow(all.packageFile), "C:\\k\\t.package");
    CHECK_EQ(narrow(all.configName), "Work=1");
    CHECK_EQ(narrow(all.profileName), "Prof");

    // An unknown switch and the token after it are ignored; a token that
    // does not follow a switch is ignored too.
    StarterSwitches unknown = tokenise({L"-x", L"Value", L"stray", L"-p", L"P", L"after"});
    CHECK_EQ(narrow(unknown.profileName), "P");
    CHECK_EQ(narrow(unknown.configName), "");

    // A value can never begin with - or /: the next switch takes over.
    StarterSwitches chained = tokenise({L"-p", L"-r", L"cfg"});
    CHECK_EQ(narrow(chained.profileName), "");
    CHECK_EQ(narrow(chained.configName), "cfg");

    // An empty argument ends the tokenising.
    StarterSwitches ended = tokenise({L"-p", L"", L"-r", L"late"});
    CHECK_EQ(narrow(ended.profileName), "");
    CHECK_EQ(narrow(ended.configName), "");

    // Quotes and blanks inside an argument belong to its value and do not
    // shift the values behind it; a lone dash is a switch without letter.
    StarterSwitches quoted = tokenise({L"-p", L"a \"b\" c\\", L"-", L"x", L"-r", L"cfg"});
    CHECK_EQ(narrow(quoted.profileName), "a \"b\" c\\");
    CHECK_EQ(narrow(quoted.configName), "cfg");

    // Values longer than the 259-character buffers are cut, never overrun,
    // and the scan goes on behind them.
    std::wstring longValue(400, L'v');
    StarterSwitches cut = tokenise({L"-p", longValue, L"-r", L"after"});
    CHECK(wcslen(cut.profileName) == kStarterPath - 1);
    CHECK_EQ(narrow(cut.profileName), std::string(kStarterPath - 1, 'v'));
    CHECK_EQ(narrow(cut.configName), "after");

    // Nothing at all.
    StarterSwitches none = tokenise({});
    CHECK_EQ(narrow(none.profileName), "");
    tokeniseSwitches(0, nullptr, &none);
}

TEST_GROUP(FlagScan)
{
    CHECK(flags({L"-register"}).registerRun);
    CHECK(flags({L"-REGISTER"}).registerRun);
    CHECK(flags({L"/register"}).registerRun);
    CHECK(flags({L"/REGISTER"}).registerRun);
    // Only the exact spellings.
    CHECK(!flags({L"-Register"}).registerRun);
    CHECK(!flags({L"-regist"}).registerRun);
    // Only where an argument begins with the text: a document path that
    // merely contains it is an ordinary argument.
    CHECK(!flags({L"C:\\Data\\land-registers.dwg"}).registerRun);
    CHECK(!flags({L"C:\\x-unregister\\a.dwg"}).unregisterRun);
    CHECK(!flags({L"a /4GB"}).reserve4GB);
    CHECK(!flags({L"x-profiler"}).profiler);

    // "-unregister" does not begin with "-register", so it alone does not register.
    StarterFlags un = flags({L"-unregister"});
    CHECK(un.unregisterRun);
    CHECK(!un.registerRun);
    CHECK(flags({L"/UNREGISTER"}).unregisterRun);
    CHECK(!flags({L"-Unregister"}).unregisterRun);
    StarterFlags both = flags({L"doc.dwg", L"-register", L"-unregister"});
    CHECK(both.registerRun && both.unregisterRun);

    CHECK(flags({L"-stop_for_connect"}).stopForConnect);
    CHECK(!flags({L"/stop_for_connect"}).stopForConnect);
    CHECK(flags({L"-profiler"}).profiler);
    CHECK(!flags({L"/profiler"}).profiler);
    CHECK(!flags({L"-PROFILER"}).profiler);
    CHECK(flags({L"/4GB"}).reserve4GB);
    CHECK(!flags({L"-4GB"}).reserve4GB);
    CHECK(!flags({L"/4gb"}).reserve4GB);

    StarterFlags none = flags({});
    CHECK(!none.registerRun && !none.unregisterRun && !none.stopForConnect && !none.profiler
          && !none.reserve4GB);
}

TEST_GROUP(TemplateExpansion)
{
    // %2\bin;%5\bin with the starter in C:\P\bin.
    CHECK_EQ(expand(L"%2\\bin;%5\\bin"), "C:\\P\\bin\\bin;%5\\bin");
    CHECK_EQ(expand(L"%1|%2|%3|%4|%5|%6|%7|%8"), "C:\\P|C:\\P\\bin|D:\\cwd|four|%5|six|seven|");
    // %% is a percent sign; other percent sequences stay as written.
    CHECK_EQ(expand(L"100%%;%9;%0;%x;%"), "100%;%9;%0;%x;%");
    CHECK_EQ(expand(L"%%5"), "%5");
    CHECK_EQ(expand(L""), "");

    // The output is cut at its capacity, never overrun.
    std::string small = expand(L"%2;%2;%2", 12);
    CHECK_EQ(small, "C:\\P\\bin;C:");
    // A value longer than the whole buffer.
    std::wstring big(9000, L'a');
    std::vector<wchar_t> out(kStarterPathList);
    const wchar_t *inserts[8] = {big.c_str(), 0, 0, 0, 0, 0, 0, 0};
    CHECK(!expandTemplate(L"%1%1", inserts, out.data(), out.size()));
    CHECK(wcslen(out.data()) == kStarterPathList - 1);
    CHECK(expandTemplate(L"x", inserts, out.data(), out.size()));
}

TEST_GROUP(PlatformPieces)
{
    wchar_t out[64];
    // Only %5 is replaced; other percent text of PATH stays literal.
    CHECK(replacePlaceholder5(L"%5\\bin;%PROGRAMFILES%;%1;100%", L"C:\\Plat", out, 64));
    CHECK_EQ(narrow(out), "C:\\Plat\\bin;%PROGRAMFILES%;%1;100%");
    CHECK(replacePlaceholder5(L"a%5b%5", L"X", out, 64));
    CHECK_EQ(narrow(out), "aXbX");
    CHECK(!replacePlaceholder5(L"%5%5%5", L"0123456789012345678901234567", out, 64));
    CHECK(wcslen(out) == 63);

    // First element with %5.
    wchar_t element[64];
    CHECK(firstPlatformElement(L"C:\\P\\bin;%5\\bin;%5\\lib", element, 64));
    CHECK_EQ(narrow(element), "%5\\bin");
    CHECK(firstPlatformElement(L"%5", element, 64));
    CHECK_EQ(narrow(element), "%5");
    CHECK(!firstPlatformElement(L"a;b;c%", element, 64));
    CHECK(!firstPlatformElement(L"", element, 64));

    // The stored search path is cut behind a whole element.
    wchar_t list[12];
    CHECK(copyPathList(L"abc;def", list, 12));
    CHECK_EQ(narrow(list), "abc;def");
    CHECK(!copyPathList(L"abc;def;ghijkl", list, 12));
    CHECK_EQ(narrow(list), "abc;def");
    CHECK(!copyPathList(L"abcdefghijklmnop", list, 12));
    CHECK_EQ(narrow(list), "");
    CHECK(copyPathList(L"abc;defghijk", list, 13 - 1) == false);
    CHECK(copyPathList(L"abcdefghijk", list, 12));
    CHECK_EQ(narrow(list), "abcdefghijk");
}

TEST_GROUP(FinalCommandLine)
{
    // No arguments: a blank, the switch and the quoted configuration path.
    wchar_t *text = buildFinalCommandLine(L"", 1, L"C:\\P\\bin\\Meridane.ini");
    CHECK(text != nullptr);
    CHECK_EQ(narrow(text), " /_KxIniFileName_:\"C:\\P\\bin\\Meridane.ini\"");
    freeText(text);

    // Two arguments a and "b c": two blanks before the slash.
    size_t cap = 0;
    Argv args({L"a", L"b c"});
    wchar_t *line = rebuildCommandLine(args.argc(), args.argv(), &cap);
    text = buildFinalCommandLine(line, cap, L"C:\\cfg.ini");
    CHECK_EQ(narrow(text), "\"a\" \"b c\"  /_KxIniFileName_:\"C:\\cfg.ini\"");
    freeText(text);
    freeText(line);

    // The longest configuration path fits the 520 extra characters.
    std::wstring path(259, L'p');
    text = buildFinalCommandLine(L"", 1, path.c_str());
    CHECK(text != nullptr && wcslen(text) == 259 + 20);
    freeText(text);
}

TEST_GROUP(BoundedText)
{
    wchar_t buf[8];
    CHECK(copyText(buf, 8, L"1234567"));
    CHECK(!copyText(buf, 8, L"12345678"));
    CHECK_EQ(narrow(buf), "1234567");
    copyText(buf, 8, L"abc");
    CHECK(appendText(buf, 8, L"defg"));
    CHECK(!appendText(buf, 8, L"h"));
    CHECK_EQ(narrow(buf), "abcdefg");
    CHECK(!formatText(buf, 8, L"%s-%d", L"long text", 5));
    CHECK(wcslen(buf) == 7);
    CHECK(formatText(buf, 8, L"%d.%d", 25, 0));
    CHECK_EQ(narrow(buf), "25.0");
}
