// The starter's pure pieces: rebuilt command line, switch tokeniser, flag
// scan, search path expansion, final command line, bounded text.
#include "runkit.h"

#include "cmdline.h"
#include "context.h"
#include "expand.h"

#include <string>
#include <vector>

using runkit::narrow;

namespace {

std::string rebuilt(std::vector<std::wstring> args, size_t *capacity = nullptr)
{
    std::vector<wchar_t *> argv;
    std::wstring program = L"C:\\P\\Meridane.exe";
    argv.push_back(&program[0]);
    for (std::wstring &a : args)
        argv.push_back(&a[0]);
    size_t cap = 0;
    wchar_t *text = rebuildCommandLine(static_cast<int>(argv.size()), argv.data(), &cap);
    std::string s = text ? narrow(text) : "<null>";
    if (capacity)
        *capacity = cap;
    freeText(text);
    return s;
}

StarterSwitches tokenise(const wchar_t *line)
{
    StarterSwitches s = {};
    tokeniseSwitches(line, &s);
    return s;
}

StarterFlags flags(const wchar_t *line)
{
    StarterFlags f = {};
    scanFlags(line, &f);
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
}

TEST_GROUP(Tokeniser)
{
    // -P and /p both set the profile, any case; later occurrences win.
    CHECK_EQ(narrow(tokenise(L"\"-P\" \"First\" ").profileName), "First");
    CHECK_EQ(narrow(tokenise(L"\"/p\" \"Second\" ").profileName), "Second");
    CHECK_EQ(narrow(tokenise(L"\"-p\" \"one\" \"-p\" \"two\" ").profileName), "two");

    // All five letters.
    StarterSwitches all = tokenise(L"\"-a\" \"App\" \"-B\" \"x64\" \"/g\" \"C:\\k\\t.package\" "
                                   L"\"-r\" \"Work=1\" \"-p\" \"Prof\" ");
    CHECK_EQ(narrow(all.ddeAppName), "App");
    CHECK_EQ(narrow(all.platformName), "x64");
    CHECK_EQ(narrow(all.packageFile), "C:\\k\\t.package");
    CHECK_EQ(narrow(all.configName), "Work=1");
    CHECK_EQ(narrow(all.profileName), "Prof");

    // An unknown switch and the token after it are ignored; a token that
    // does not follow a switch is ignored too.
    StarterSwitches unknown = tokenise(L"\"-x\" \"Value\" \"stray\" \"-p\" \"P\" \"after\" ");
    CHECK_EQ(narrow(unknown.profileName), "P");
    CHECK_EQ(narrow(unknown.configName), "");

    // A value can never begin with - or /: the next switch takes over.
    StarterSwitches chained = tokenise(L"\"-p\" \"-r\" \"cfg\" ");
    CHECK_EQ(narrow(chained.profileName), "");
    CHECK_EQ(narrow(chained.configName), "cfg");

    // An empty quoted token ends the tokenising.
    StarterSwitches ended = tokenise(L"\"-p\" \"\" \"-r\" \"late\" ");
    CHECK_EQ(narrow(ended.profileName), "");
    CHECK_EQ(narrow(ended.configName), "");

    // Unquoted tokens end at a blank, several blanks separate like one.
    StarterSwitches plain = tokenise(L"  -p   name   -b  \"two words\"");
    CHECK_EQ(narrow(plain.profileName), "name");
    CHECK_EQ(narrow(plain.platformName), "two words");

    // A quoted token without closing quote runs to the end.
    CHECK_EQ(narrow(tokenise(L"-p \"open ended").profileName), "open ended");

    // A lone dash is a switch without letter.
    CHECK_EQ(narrow(tokenise(L"- x -p y").profileName), "y");

    // Values longer than the 259-character buffers are cut, never overrun,
    // and the scan goes on behind them.
    std::wstring longValue(400, L'v');
    std::wstring line = L"\"-p\" \"" + longValue + L"\" \"-r\" \"after\" ";
    StarterSwitches cut = tokenise(line.c_str());
    CHECK(wcslen(cut.profileName) == kStarterPath - 1);
    CHECK_EQ(narrow(cut.profileName), std::string(kStarterPath - 1, 'v'));
    CHECK_EQ(narrow(cut.configName), "after");

    // A switch token longer than the buffer.
    std::wstring longSwitch = L"-p" + std::wstring(600, L'q') + L" value";
    CHECK_EQ(narrow(tokenise(longSwitch.c_str()).profileName), "value");

    // Nothing at all.
    StarterSwitches none = tokenise(L"");
    CHECK_EQ(narrow(none.profileName), "");
    tokeniseSwitches(nullptr, &none);
}

TEST_GROUP(FlagScan)
{
    CHECK(flags(L"\"-register\" ").registerRun);
    CHECK(flags(L"\"-REGISTER\" ").registerRun);
    CHECK(flags(L"\"/register\" ").registerRun);
    CHECK(flags(L"\"/REGISTER\" ").registerRun);
    // Only the exact spellings.
    CHECK(!flags(L"\"-Register\" ").registerRun);
    CHECK(!flags(L"\"-regist\" ").registerRun);
    // Inside a longer argument it still counts.
    CHECK(flags(L"\"C:\\tools\\x-register-y\\f.txt\" ").registerRun);

    // "-unregister" contains no "-register", so it alone does not register.
    StarterFlags un = flags(L"\"-unregister\" ");
    CHECK(un.unregisterRun);
    CHECK(!un.registerRun);
    CHECK(flags(L"\"/UNREGISTER\" ").unregisterRun);
    CHECK(!flags(L"\"-Unregister\" ").unregisterRun);
    StarterFlags both = flags(L"\"-register\" \"-unregister\" ");
    CHECK(both.registerRun && both.unregisterRun);

    CHECK(flags(L"\"-stop_for_connect\" ").stopForConnect);
    CHECK(!flags(L"\"/stop_for_connect\" ").stopForConnect);
    CHECK(flags(L"\"-profiler\" ").profiler);
    CHECK(!flags(L"\"/profiler\" ").profiler);
    CHECK(!flags(L"\"-PROFILER\" ").profiler);
    CHECK(flags(L"\"/4GB\" ").reserve4GB);
    CHECK(!flags(L"\"-4GB\" ").reserve4GB);
    CHECK(!flags(L"\"/4gb\" ").reserve4GB);

    StarterFlags none = flags(L"");
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
    std::vector<std::wstring> args = {L"C:\\x.exe", L"a", L"b c"};
    std::vector<wchar_t *> argv;
    for (std::wstring &a : args)
        argv.push_back(&a[0]);
    wchar_t *line = rebuildCommandLine(3, argv.data(), &cap);
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
