// The Windows application's resources as the program finds them: every
// dialog and string in English and in Russian, the Russian dialogs laid out
// exactly as the English ones, the speed list's labels matching the core's
// factors, the export dialog's formats and numbers as its code takes them,
// and the language choice with its fallback.

#include "ui/core/TrellonCore.h"
#include "ui/win32/ResourceIds.h"
#include "ui/win32/Text.h"

// clang-format off
#include <commctrl.h>
// clang-format on

#include <cctype>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
const int kDialogs[] = {IDD_MAIN,     IDD_RESIZABLE_VIEW, IDD_EXTRACT,
                        IDD_ABOUTBOX, IDD_LONG_TASK,      IDD_EXPORT};

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

// A control of an extended dialog template.
struct Item
{
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring windowClass, title;
};

struct Dialog
{
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring windowClass, title, font;
    WORD pointSize = 0;
    std::vector<Item> items;
};

// Reads the extended template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX
// records) that the resource compiler writes for DIALOGEX.
class TemplateReader
{
public:
    explicit TemplateReader(const void* at) : m_at(static_cast<const std::uint8_t*>(at)) {}

    Dialog Read()
    {
        Dialog dialog;
        EXPECT_EQ(Word(), 1);      // version
        EXPECT_EQ(Word(), 0xFFFF); // extended
        Dword();                   // help id
        dialog.exStyle = Dword();
        dialog.style = Dword();
        const WORD count = Word();
        dialog.x = Short();
        dialog.y = Short();
        dialog.cx = Short();
        dialog.cy = Short();
        NameOrOrdinal(); // menu
        dialog.windowClass = NameOrOrdinal();
        dialog.title = Text();
        if (dialog.style & (DS_SETFONT | DS_SHELLFONT))
        {
            dialog.pointSize = Word();
            Word();    // weight
            m_at += 2; // italic, character set
            dialog.font = Text();
        }
        for (WORD n = 0; n < count; ++n)
        {
            Align();
            Item item;
            Dword(); // help id
            item.exStyle = Dword();
            item.style = Dword();
            item.x = Short();
            item.y = Short();
            item.cx = Short();
            item.cy = Short();
            item.id = Dword();
            item.windowClass = NameOrOrdinal();
            item.title = NameOrOrdinal();
            m_at += Word(); // creation data
            dialog.items.push_back(item);
        }
        return dialog;
    }

private:
    WORD Word()
    {
        WORD value = 0;
        std::memcpy(&value, m_at, sizeof value);
        m_at += sizeof value;
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    DWORD Dword()
    {
        DWORD value = 0;
        std::memcpy(&value, m_at, sizeof value);
        m_at += sizeof value;
        return value;
    }
    std::wstring Text()
    {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word())
            text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    // A name, or an ordinal written as "#n"; empty for none.
    std::wstring NameOrOrdinal()
    {
        WORD first = 0;
        std::memcpy(&first, m_at, sizeof first);
        if (first == 0xFFFF)
        {
            m_at += 2;
            return L"#" + std::to_wstring(Word());
        }
        return Text();
    }
    void Align()
    {
        while (reinterpret_cast<std::uintptr_t>(m_at) % 4 != 0)
            ++m_at;
    }

    const std::uint8_t* m_at;
};

Dialog DialogIn(LANGID language, int id)
{
    HRSRC found = FindResourceExW(Instance(), MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), language);
    if (found == nullptr)
        return {};
    return TemplateReader(LockResource(LoadResource(Instance(), found))).Read();
}

std::wstring TextIn(LANGID language, int id)
{
    ChooseResourceLanguage(language);
    return LoadText(Instance(), id);
}

class Win32Resources : public ::testing::Test
{
protected:
    void TearDown() override { ChooseResourceLanguage(kEnglish); }
};

TEST_F(Win32Resources, EveryDialogAndStringIsThereInBothLanguages)
{
    for (LANGID language : {kEnglish, kRussian})
    {
        for (int id : kDialogs)
            EXPECT_NE(
                FindResourceExW(Instance(), MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), language),
                nullptr)
                << "dialog " << id << " in language " << language;
        EXPECT_FALSE(TextIn(language, IDS_ABOUTBOX).empty()) << language;
        EXPECT_FALSE(TextIn(language, IDS_EXPORT).empty()) << language;
        EXPECT_FALSE(TextIn(language, IDS_RECORD_SOUND).empty()) << language;
        EXPECT_FALSE(TextIn(language, IDS_MUTE).empty()) << language;
        for (int n = 0; n < CTrellonCore::kExportFormatCount; ++n)
            EXPECT_FALSE(TextIn(language, IDS_EXPORT_FORMAT_FIRST + n).empty())
                << language << " " << n;
        for (int n = 0; n < CTrellonCore::kSpeedCount; ++n)
            EXPECT_FALSE(TextIn(language, IDS_SPEED_FIRST + n).empty()) << language << " " << n;
    }
}

// The letter after '&', lower-cased (Cyrillic too); 0 for none.
wchar_t AccessKey(const std::wstring& text)
{
    const std::size_t at = text.find(L'&');
    if (at == std::wstring::npos || at + 1 >= text.size())
        return 0;
    wchar_t key[2] = {text[at + 1], 0};
    CharLowerW(key);
    return key[0];
}

// The context menu and the system menu: the sound's items read as the Qt
// window's do, and no two items of a menu share an access key in either
// language (a shared key would take the first item, not the one typed).
TEST_F(Win32Resources, MenuItemsHaveTheirTextsAndAccessKeysOfTheirOwn)
{
    EXPECT_EQ(Narrow(TextIn(kEnglish, IDS_RECORD_SOUND)), "Record &Sound");
    EXPECT_EQ(Narrow(TextIn(kEnglish, IDS_MUTE)), "&Mute Sound");
    EXPECT_EQ(Narrow(TextIn(kRussian, IDS_RECORD_SOUND)), "Записывать &звук");
    EXPECT_EQ(Narrow(TextIn(kRussian, IDS_MUTE)), "&Выключить звук");
    for (LANGID language : {kEnglish, kRussian})
    {
        std::vector<wchar_t> keys;
        for (int id : {IDS_EXPORT, IDS_RECORD_SOUND, IDS_MUTE, IDS_ABOUTBOX})
        {
            const wchar_t key = AccessKey(TextIn(language, id));
            EXPECT_NE(key, 0) << "string " << id << " in language " << language;
            for (wchar_t other : keys)
                EXPECT_NE(key, other) << "string " << id << " in language " << language;
            keys.push_back(key);
        }
    }
    // System commands: Windows keeps the low four bits of one for itself.
    for (int id : {IDM_ABOUTBOX, IDM_EXPORT, IDM_RECORD_SOUND, IDM_MUTE})
    {
        EXPECT_EQ(id & 0xF, 0) << id;
        EXPECT_LT(id, 0xF000) << id;
    }
}

TEST_F(Win32Resources, RussianDialogsKeepTheEnglishLayoutIdsAndStyles)
{
    for (int id : kDialogs)
    {
        const Dialog english = DialogIn(kEnglish, id), russian = DialogIn(kRussian, id);
        SCOPED_TRACE("dialog " + std::to_string(id));
        EXPECT_EQ(russian.style, english.style);
        EXPECT_EQ(russian.exStyle, english.exStyle);
        EXPECT_EQ(russian.cx, english.cx);
        EXPECT_EQ(russian.cy, english.cy);
        EXPECT_TRUE(russian.windowClass == english.windowClass);
        EXPECT_TRUE(russian.font == english.font);
        EXPECT_EQ(russian.pointSize, english.pointSize);
        ASSERT_EQ(russian.items.size(), english.items.size());
        for (std::size_t n = 0; n < english.items.size(); ++n)
        {
            const Item &a = english.items[n], &b = russian.items[n];
            SCOPED_TRACE("control " + std::to_string(n) + " (id " + std::to_string(a.id) + ")");
            EXPECT_EQ(b.id, a.id);
            EXPECT_TRUE(b.windowClass == a.windowClass);
            EXPECT_EQ(b.style, a.style);
            EXPECT_EQ(b.exStyle, a.exStyle);
            EXPECT_EQ(b.x, a.x);
            EXPECT_EQ(b.y, a.y);
            EXPECT_EQ(b.cx, a.cx);
            EXPECT_EQ(b.cy, a.cy);
        }
    }
}

TEST_F(Win32Resources, MainDialogCarriesTheCoresControlsOnceEach)
{
    const Dialog main = DialogIn(kEnglish, IDD_MAIN);
    EXPECT_EQ(main.cx, 481);
    EXPECT_EQ(main.cy, 343);
    EXPECT_TRUE(main.style & WS_THICKFRAME);
    EXPECT_TRUE(main.exStyle & WS_EX_ACCEPTFILES);
    // How other programs find it (class names ignore case; the resource
    // compiler writes it in capitals).
    EXPECT_EQ(lstrcmpiW(main.windowClass.c_str(), L"TrellonHD.Main"), 0)
        << Narrow(main.windowClass);
    for (int id : {IDC_GET_FRAME,  IDC_FRAME_SLIDER, IDC_BYTES,   IDC_RECORD,    IDC_FRAME_TEXT,
                   IDC_TICK_TIME,  IDC_SAVE,         IDC_LOAD,    IDC_TIME_TEXT, IDC_CLEAR,
                   IDC_VIDEO_INFO, IDC_PLAY,         IDC_PAUSE,   IDC_SPEED,     IDC_SHOW_CURSOR,
                   IDC_TARGET_FPS, IDC_DETACH,       IDC_EXTRACT, IDC_STATS,     IDC_PLUS,
                   IDC_VERSION})
    {
        int found = 0;
        for (const Item& item : main.items)
            found += item.id == static_cast<DWORD>(id) ? 1 : 0;
        EXPECT_EQ(found, 1) << "control " << id;
    }
    // No control reaches into the video area, the top-left 640 x 480
    // pixels: at the smallest dialog font (1.5 pixels a unit across, 1.625
    // down) that is 427 x 296 units.
    for (const Item& item : main.items)
    {
        if (item.style & WS_VISIBLE)
        {
            EXPECT_TRUE(item.x >= 427 || item.y >= 296) << "control " << item.id;
        }
    }
}

TEST_F(Win32Resources, SpeedLabelsNameTheCoresFactors)
{
    for (LANGID language : {kEnglish, kRussian})
        for (int n = 0; n < CTrellonCore::kSpeedCount; ++n)
        {
            const std::string label = Narrow(TextIn(language, IDS_SPEED_FIRST + n));
            const std::string trimmed = label.substr(0, label.find_last_not_of(' ') + 1);
            // The first four carry six blanks, as the original list did.
            EXPECT_EQ(label.size() - trimmed.size(), n < 4 ? 6u : 0u) << label;
            double factor = 0;
            if (trimmed == "normal" || trimmed == "норма")
                factor = 1.0;
            else if (trimmed.size() == 3 && trimmed.compare(0, 2, "1/") == 0)
                factor = 1.0 / (trimmed[2] - '0');
            else if (!trimmed.empty() && trimmed.back() == 'x')
                factor = std::stod(trimmed.substr(0, trimmed.size() - 1));
            EXPECT_EQ(factor, CTrellonCore::kSpeedFactors[n]) << label;
        }
    EXPECT_EQ(Narrow(TextIn(kRussian, IDS_SPEED_FIRST + 3)), "норма      ");
}

TEST_F(Win32Resources, ExportFormatLabelsNameTheCoresFormatsInItsOrder)
{
    for (LANGID language : {kEnglish, kRussian})
        for (int n = 0; n < CTrellonCore::kExportFormatCount; ++n)
        {
            // "MP4 (H.264), ..." for "mp4".
            std::string name = Narrow(TextIn(language, IDS_EXPORT_FORMAT_FIRST + n));
            name = name.substr(0, name.find_first_of(" ,"));
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(name, CTrellonCore::kExportExtensions[n]) << language;
        }
}

TEST_F(Win32Resources, ExportNumbersHaveTheirUpDownRightAfterThem)
{
    // An up-down takes the control before it as its buddy, and the dialog
    // finds a field's up-down by the next id.
    const Dialog dialog = DialogIn(kEnglish, IDD_EXPORT);
    for (int id : {IDC_EXPORT_FIRST, IDC_EXPORT_LAST, IDC_EXPORT_SCALE})
    {
        SCOPED_TRACE("field " + std::to_string(id));
        std::size_t n = 0;
        while (n < dialog.items.size() && dialog.items[n].id != static_cast<DWORD>(id))
            ++n;
        ASSERT_LT(n + 1, dialog.items.size());
        const Item& spin = dialog.items[n + 1];
        EXPECT_EQ(spin.id, static_cast<DWORD>(id + 1));
        EXPECT_EQ(lstrcmpiW(spin.windowClass.c_str(), UPDOWN_CLASSW), 0)
            << Narrow(spin.windowClass);
        EXPECT_EQ(spin.style & (UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_NOTHOUSANDS),
                  static_cast<DWORD>(UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_NOTHOUSANDS));
    }
}

TEST_F(Win32Resources, RussianForEveryRussianUserAndEnglishForTheRest)
{
    ChooseResourceLanguage(MAKELANGID(LANG_RUSSIAN, 0x02) /* Moldova */);
    EXPECT_EQ(ResourceLanguage(), kRussian);
    const DLGTEMPLATE* russian = FindDialogTemplate(Instance(), IDD_EXTRACT);
    ASSERT_NE(russian, nullptr);
    EXPECT_TRUE(TemplateReader(russian).Read().title == L"Обрезка");

    ChooseResourceLanguage(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    EXPECT_EQ(ResourceLanguage(), kEnglish);
    const DLGTEMPLATE* english = FindDialogTemplate(Instance(), IDD_EXTRACT);
    ASSERT_NE(english, nullptr);
    EXPECT_TRUE(TemplateReader(english).Read().title == L"Extraction");
    EXPECT_EQ(FindDialogTemplate(Instance(), 4242), nullptr);
    EXPECT_TRUE(LoadText(Instance(), 4242).empty());
}

TEST(Win32Text, Utf8AndUtf16CarryEveryCharacterBothWays)
{
    // Cyrillic, a mark outside the first plane (a surrogate pair) and a dash.
    const std::string text = "Сохранить \xF0\x9D\x84\x9E \xE2\x80\x94 ok";
    const std::wstring wide = Widen(text);
    EXPECT_EQ(wide.size(), 17u); // 9 + 1 + 2 (the pair) + 1 + 1 + 3
    EXPECT_EQ(Narrow(wide), text);
    EXPECT_TRUE(Widen("").empty());
    EXPECT_TRUE(Narrow(std::wstring()).empty());
    // A broken sequence becomes a replacement character, not a cut text.
    EXPECT_TRUE(Widen("a\xC3z") == L"a\uFFFDz");
}
} // namespace
