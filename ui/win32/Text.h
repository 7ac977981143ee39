#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <string>

// Texts between the program's UTF-8 and the system's UTF-16, and the
// resources of the person's language.
//
// The resource script carries every dialog and string in English and in
// Russian under the same ids. The system's own choice among them differs
// between Windows versions and Wine, so the program makes it once, from the
// user's interface language, and looks each resource up in that language,
// falling back to English.

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16, std::size_t length);

// Chooses the resources' language from the user's interface language (or
// from `forced`, a language id, when it is not 0). Call once at start-up.
void ChooseResourceLanguage(LANGID forced = 0);
LANGID ResourceLanguage();

// A dialog template of the chosen language; null when there is none.
const DLGTEMPLATE* FindDialogTemplate(HINSTANCE instance, int id);
// A string of the chosen language; empty when there is none.
std::wstring LoadText(HINSTANCE instance, int id);
