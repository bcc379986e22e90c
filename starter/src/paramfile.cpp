#include "paramfile.h"
#include "datacopy.h"

#include <msxml.h>
#include <oleauto.h>
#include <stdio.h>
#include <wchar.h>

namespace {

HRESULT selectNode(IXMLDOMElement *root, const wchar_t *path, IXMLDOMNode **node)
{
    *node = nullptr;
    BSTR query = SysAllocString(path);
    if (!query)
        return E_OUTOFMEMORY;
    HRESULT hr = root->selectSingleNode(query, node);
    SysFreeString(query);
    if (hr == S_OK && !*node)
        hr = S_FALSE;
    return hr == S_OK ? S_OK : E_FAIL;
}

HRESULT setText(IXMLDOMElement *root, const wchar_t *path, const wchar_t *text)
{
    IXMLDOMNode *node;
    HRESULT hr = selectNode(root, path, &node);
    if (FAILED(hr))
        return hr;
    BSTR value = SysAllocString(text ? text : L"");
    hr = value ? node->put_text(value) : E_OUTOFMEMORY;
    SysFreeString(value);
    node->Release();
    return hr;
}

// Text of a template element; the caller frees it.
HRESULT getText(IXMLDOMElement *root, const wchar_t *path, BSTR *text)
{
    *text = nullptr;
    IXMLDOMNode *node;
    HRESULT hr = selectNode(root, path, &node);
    if (FAILED(hr))
        return hr;
    hr = node->get_text(text);
    node->Release();
    if (SUCCEEDED(hr) && !*text)
        *text = SysAllocString(L"");
    return SUCCEEDED(hr) && *text ? S_OK : E_FAIL;
}

HRESULT copyTemplate(IXMLDOMElement *root, const wchar_t *from, const wchar_t *to,
                     const wchar_t *label)
{
    BSTR text;
    HRESULT hr = getText(root, from, &text);
    if (FAILED(hr))
        return hr;
    if (label && *label) {
        BSTR joined = labelledText(text, label);
        SysFreeString(text);
        if (!joined)
            return E_OUTOFMEMORY;
        text = joined;
    }
    hr = setText(root, to, text);
    SysFreeString(text);
    return hr;
}

void reportParseError(IXMLDOMDocument *doc, const wchar_t *iniPath)
{
    IXMLDOMParseError *error = nullptr;
    BSTR reason = nullptr;
    long line = 0, pos = 0;
    if (doc->get_parseError(&error) == S_OK && error) {
        error->get_reason(&reason);
        error->get_line(&line);
        error->get_linepos(&pos);
        error->Release();
    }
    if (reason)
        for (wchar_t *p = reason; *p; ++p)
            if (*p == L'\n')
                *p = L' ';
    wchar_t message[1024];
    swprintf(message, 1024, L"can't load '%ls' - '%ls' at line %ld at %ld\r\n", iniPath,
             reason ? reason : L"", line, pos);
    message[1023] = 0;
    OutputDebugStringW(message);
    SysFreeString(reason);
}

HRESULT writeElements(IXMLDOMElement *root, const StartScreenRecord &r, const wchar_t *profileFolder)
{
    wchar_t htmls[kPathChars], source[kPathChars], samples[kPathChars], testDrive[kPathChars],
        plovrech[kPathChars];
    // A folder that does not fit a path buffer is written as empty text.
    pathJoin(htmls, kPathChars, profileFolder, L"htmls");
    pathJoin(source, kPathChars, r.commonDataFolder, L"ss20", L"qzss_files");
    pathJoin(samples, kPathChars, r.userDataFolder, L"Samples");
    pathJoin(testDrive, kPathChars, r.userDataFolder, L"TestDrive");
    pathJoin(plovrech, kPathChars, r.userDataFolder, L"plovrech");

    HRESULT hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Name", r.productLabel))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Version", r.versionText))) return hr;
    if (FAILED(hr = copyTemplate(root, L"MainAppParams/AppNames/StartCaption",
                                 L"MainAppParams/AppNames/Caption", nullptr))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/UserInfo/UserName", r.userName))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/UserInfo/CompanyName", r.userCompany))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/DdeServer/AppName", r.appName))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/PagesPath/HTMLsPath", htmls))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Dirs/QzSsFilesSource", source))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Dirs/SamplesPath", samples))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Dirs/TestDrivePath", testDrive))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Dirs/PlovrechPath", plovrech))) return hr;
    if (FAILED(hr = copyTemplate(root, L"MainAppParams/Status/StartString",
                                 L"MainAppParams/Status/String", r.installerBuild))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Status/Value", L"1"))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Commands/ShowTab", L""))) return hr;
    if (FAILED(hr = setText(root, L"MainAppParams/Commands/ShowHtmlPage", L""))) return hr;
    return setText(root, L"MainAppParams/Commands/ShowHtmlElementById", L"");
}

} // namespace

BSTR labelledText(const wchar_t *text, const wchar_t *label)
{
    // Exactly as long as its characters: a BSTR's length is part of its
    // value, and the XML component writes every character of it.
    size_t textLen = wcslen(text), labelLen = wcslen(label);
    size_t n = textLen + labelLen + 3;
    BSTR joined = SysAllocStringLen(nullptr, (UINT)n);
    if (!joined)
        return nullptr;
    wchar_t *p = joined;
    wmemcpy(p, text, textLen);
    p += textLen;
    wmemcpy(p, L" (", 2);
    p += 2;
    wmemcpy(p, label, labelLen);
    p += labelLen;
    *p++ = L')';
    *p = 0;
    return joined;
}

HRESULT updateParamFile(const StartScreenRecord &record, const wchar_t *iniPath,
                        const wchar_t *profileFolder)
{
    ComScope com;
    IXMLDOMDocument *doc = createXmlDocument();
    if (!doc)
        return REGDB_E_CLASSNOTREG;
    VARIANT path;
    VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = SysAllocString(iniPath);
    IXMLDOMElement *root = nullptr;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT hr = path.bstrVal ? doc->load(path, &loaded) : E_OUTOFMEMORY;
    if (hr != S_OK && loaded != VARIANT_TRUE) {
        wchar_t repair[kPathChars];
        // Without a common data folder there is no installation copy to take.
        if (!record.commonDataFolder || !*record.commonDataFolder
            || !pathJoin(repair, kPathChars, record.commonDataFolder, L"ss20", L"qzss_files")
            || !textAppend(repair, kPathChars, L"\\ini.xml") || !CopyFileW(repair, iniPath, FALSE)) {
            hr = E_FAIL;
            goto done;
        }
        hr = doc->load(path, &loaded);
        if (hr != S_OK) {
            if (SUCCEEDED(hr))
                hr = E_FAIL;
            goto done;
        }
    }
    // A document that did not parse has no element; say why before giving up.
    if (loaded != VARIANT_TRUE) {
        reportParseError(doc, iniPath);
        hr = E_FAIL;
        goto done;
    }
    hr = doc->get_documentElement(&root);
    if (hr != S_OK || !root) {
        hr = E_FAIL;
        goto done;
    }
    hr = writeElements(root, record, profileFolder);
    if (SUCCEEDED(hr))
        hr = doc->save(path);
done:
    if (root)
        root->Release();
    VariantClear(&path);
    doc->Release();
    return SUCCEEDED(hr) ? S_OK : hr;
}
