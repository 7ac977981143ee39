#include "ui/win32/Text.h"

#include <climits>

namespace
{
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
LANGID g_nLanguage = kEnglish;

// The resource in the chosen language, else in English, else whatever the
// system finds.
HRSRC FindInLanguage(HINSTANCE instance, LPCWSTR type, LPCWSTR name)
{
    HRSRC found = FindResourceExW(instance, type, name, g_nLanguage);
    if (found == nullptr && g_nLanguage != kEnglish)
        found = FindResourceExW(instance, type, name, kEnglish);
    if (found == nullptr)
        found = FindResourceW(instance, name, type);
    return found;
}
} // namespace

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty() || utf8.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
    return wide;
}

std::string Narrow(const wchar_t* utf16, std::size_t length)
{
    if (utf16 == nullptr || length == 0 || length > INT_MAX)
        return {};
    const int size = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_UTF8, 0, utf16, size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16, size, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

std::string Narrow(const std::wstring& utf16)
{
    return Narrow(utf16.data(), utf16.size());
}

void ChooseResourceLanguage(LANGID forced)
{
    const LANGID language = forced != 0 ? forced : GetUserDefaultUILanguage();
    g_nLanguage = PRIMARYLANGID(language) == LANG_RUSSIAN ? kRussian : kEnglish;
    // The system's own dialogs (file choosers, message box buttons) follow.
    SetThreadUILanguage(g_nLanguage);
}

LANGID ResourceLanguage()
{
    return g_nLanguage;
}

const DLGTEMPLATE* FindDialogTemplate(HINSTANCE instance, int id)
{
    HRSRC found =
        FindInLanguage(instance, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(id));
    if (found == nullptr)
        return nullptr;
    HGLOBAL loaded = LoadResource(instance, found);
    return loaded != nullptr ? static_cast<const DLGTEMPLATE*>(LockResource(loaded)) : nullptr;
}

std::wstring LoadText(HINSTANCE instance, int id)
{
    // Strings lie in blocks of sixteen, each a length-prefixed UTF-16 text.
    if (id < 0 || id > 0xFFFF)
        return {};
    const int block = id / 16 + 1;
    HRSRC found =
        FindInLanguage(instance, MAKEINTRESOURCEW(6) /* RT_STRING */, MAKEINTRESOURCEW(block));
    if (found == nullptr)
        return {};
    HGLOBAL loaded = LoadResource(instance, found);
    const auto* at = loaded != nullptr ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    const DWORD bytes = SizeofResource(instance, found);
    if (at == nullptr)
        return {};
    const WCHAR* const end = at + bytes / sizeof(WCHAR);
    for (int n = 0; n < id % 16; ++n)
    {
        if (at >= end)
            return {};
        at += 1 + *at;
    }
    if (at >= end || at + 1 + *at > end)
        return {};
    return std::wstring(at + 1, *at);
}
