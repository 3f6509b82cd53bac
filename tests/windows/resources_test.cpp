// Reads the menu, accelerators, dialogs and strings straight out of the built
// program (loaded as data, not run) and compares them with what users see.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver.h"
#include "resources_reader.h"

namespace {

constexpr WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
constexpr DWORD kNoId = 0xFFFFFFFFu;

// Identifiers as published, written out so that a changed header shows up here.
constexpr int kMenuMain = 109;  // menu and accelerator table
constexpr int kAboutDialog = 103;
constexpr int kIntervalDialog = 110;
constexpr int kTitleString = 103;
constexpr int kClassString = 109;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

class ProgramResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadModuleAsData(driver::BuiltProgram().c_str()); }
    static void TearDownTestSuite() { FreeLibrary(module_); }

    void SetUp() override { ASSERT_NE(module_, nullptr) << "the built program cannot be read"; }

    static std::vector<BYTE> Raw(LPCWSTR type, int id) { return RawResource(module_, type, id, kChinesePrc); }

    static HMODULE module_;
};

HMODULE ProgramResources::module_ = nullptr;

// ---- menu ------------------------------------------------------------------

struct ExpectedItem {
    const wchar_t* text;  // null for a separator
    UINT id;
};

std::wstring MenuText(HMENU menu, UINT position)
{
    wchar_t text[64] = {};
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

void ExpectPopup(HMENU bar, UINT position, const wchar_t* title, const std::vector<ExpectedItem>& items)
{
    SCOPED_TRACE(testing::Message() << "pop-up at " << position);
    EXPECT_EQ(MenuText(bar, position), title);
    const HMENU popup = GetSubMenu(bar, static_cast<int>(position));
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(items.size()));
    for (UINT i = 0; i < items.size(); ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
        ASSERT_TRUE(GetMenuItemInfoW(popup, i, TRUE, &info));
        EXPECT_EQ(info.hSubMenu, nullptr);
        if (items[i].text == nullptr) {
            EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "item " << i;
            continue;
        }
        EXPECT_EQ(MenuText(popup, i), items[i].text) << "item " << i;
        EXPECT_EQ(info.wID, items[i].id) << "item " << i;
    }
}

void ExpectCommand(HMENU bar, UINT position, const wchar_t* text, UINT id)
{
    EXPECT_EQ(MenuText(bar, position), text);
    EXPECT_EQ(GetSubMenu(bar, static_cast<int>(position)), nullptr);
    EXPECT_EQ(GetMenuItemID(bar, static_cast<int>(position)), id);
}

TEST_F(ProgramResources, MenuBarHoldsTheFiveEntriesInOrder)
{
    ASSERT_FALSE(Raw(RT_MENU, kMenuMain).empty()) << "no Chinese (PRC) menu";
    const HMENU bar = LoadMenuW(module_, MAKEINTRESOURCEW(kMenuMain));
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 5);

    ExpectPopup(bar, 0, L"背景色",
                {{L"自动切换", 113}, {L"黑色", 114}, {L"红色", 115},
                 {L"绿色", 116}, {L"蓝色", 117}, {L"白色", 118},
                 {L"紫色", 119}, {L"灰色", 120}});
    ExpectPopup(bar, 1, L"模式",
                {{L"多行", 121}, {L"单行", 122}, {nullptr, 0}, {L"VSync同步", 123}});
    ExpectCommand(bar, 2, L"设置", 106);
    ExpectCommand(bar, 3, L"状态", 111);
    ExpectPopup(bar, 4, L"帮助(&H)", {{L"在线毫秒计时器", 124}, {L"关于 ...", 104}});
    DestroyMenu(bar);
}

// ---- accelerators ----------------------------------------------------------

TEST_F(ProgramResources, AcceleratorsTurnAltQuestionMarkAndAltSlashIntoAbout)
{
    // Raw entries: flags, key, command, padding; the last entry carries 0x80.
    const std::vector<BYTE> raw = Raw(RT_ACCELERATOR, kMenuMain);
    ASSERT_EQ(raw.size(), 2 * 4 * sizeof(WORD));
    const auto entry = [&](std::size_t index, std::size_t field) {
        WORD word;
        std::memcpy(&word, raw.data() + (index * 4 + field) * sizeof(WORD), sizeof(word));
        return word;
    };
    const WORD keys[] = {L'?', L'/'};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i);
        // Alt with a character code: no FVIRTKEY, so the key is not a virtual-key code.
        EXPECT_EQ(entry(i, 0) & 0x7F, FALT);
        EXPECT_EQ(entry(i, 1), keys[i]);
        EXPECT_EQ(entry(i, 2), 104);
    }
    EXPECT_EQ(entry(1, 0) & 0x80, 0x80);
    EXPECT_NE(LoadAcceleratorsW(module_, MAKEINTRESOURCEW(kMenuMain)), nullptr);
}

// ---- dialogs ---------------------------------------------------------------

struct ExpectedControl {
    const wchar_t* className;
    DWORD id;
    short x, y, cx, cy;
    const wchar_t* text;  // null: any non-empty text
    DWORD style;
};

struct ExpectedDialog {
    DWORD style;
    short cx, cy;
    const wchar_t* caption;
    WORD pointSize;
    std::vector<ExpectedControl> controls;
};

void ExpectDialog(const DialogTemplate& dialog, const ExpectedDialog& expected)
{
    EXPECT_EQ(dialog.style, expected.style) << std::hex << dialog.style;
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, expected.cx);
    EXPECT_EQ(dialog.cy, expected.cy);
    EXPECT_EQ(dialog.caption, expected.caption);
    EXPECT_EQ(dialog.fontName, L"MS Shell Dlg");
    EXPECT_EQ(dialog.pointSize, expected.pointSize);
    ASSERT_EQ(dialog.controls.size(), expected.controls.size());
    for (std::size_t i = 0; i < expected.controls.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i);
        const DialogControl& control = dialog.controls[i];
        const ExpectedControl& want = expected.controls[i];
        EXPECT_EQ(control.className, want.className);
        EXPECT_EQ(control.id, want.id);
        EXPECT_EQ(control.x, want.x);
        EXPECT_EQ(control.y, want.y);
        EXPECT_EQ(control.cx, want.cx);
        EXPECT_EQ(control.cy, want.cy);
        EXPECT_EQ(control.exStyle, 0u);
        EXPECT_EQ(control.style, want.style) << std::hex << control.style;
        if (want.text != nullptr) {
            EXPECT_EQ(control.text, want.text);
        } else {
            EXPECT_FALSE(control.text.empty());
        }
    }
}

TEST_F(ProgramResources, AboutBoxLayout)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialogTemplate(Raw(RT_DIALOG, kAboutDialog), dialog));
    // The icon has no image; the second line's wording is free.
    ExpectDialog(dialog, {WS_POPUP | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 170, 62, L"关于...", 9,
                          {
                              {L"static", kNoId, 14, 14, 21, 20, L"", kChild | SS_ICON},
                              {L"static", kNoId, 42, 14, 114, 8, L"Tixabo, 版本 1.18",
                               kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP},
                              {L"static", kNoId, 42, 26, 114, 8, nullptr, kChild | SS_LEFT | WS_GROUP},
                              {L"button", IDOK, 113, 41, 50, 14, L"确定",
                               kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
                          }});
}

TEST_F(ProgramResources, IntervalDialogLayout)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialogTemplate(Raw(RT_DIALOG, kIntervalDialog), dialog));
    // No pop-up style, and no CBS_AUTOHSCROLL: the box takes only what fits its width.
    ExpectDialog(dialog, {DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 80, 40, L"设置刷新时间间隔", 12,
                          {
                              {L"static", kNoId, 4, 6, 38, 8, L"单位(us):", kChild | SS_LEFT | WS_GROUP},
                              {L"combobox", 112, 36, 4, 40, 60, L"", kChild | CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP},
                              {L"button", IDOK, 9, 20, 24, 12, L"确定", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
                              {L"button", IDCANCEL, 48, 20, 24, 12, L"取消", kChild | BS_PUSHBUTTON | WS_TABSTOP},
                          }});
}

// ---- string table ----------------------------------------------------------

TEST_F(ProgramResources, StringTableNamesTheWindowAndItsClass)
{
    // Strings live in blocks of sixteen; block n holds ids 16(n-1) .. 16n-1.
    ASSERT_FALSE(Raw(RT_STRING, kTitleString / 16 + 1).empty()) << "no Chinese (PRC) string table";
    wchar_t text[100] = {};
    ASSERT_GT(LoadStringW(module_, kTitleString, text, 100), 0);
    EXPECT_STREQ(text, L"Tixabo");
    ASSERT_GT(LoadStringW(module_, kClassString, text, 100), 0);
    EXPECT_STREQ(text, L"MORV");
}

// ---- icons, manifest and version -----------------------------------------------

// PNG-compressed (read by Windows Vista and later): a bitmap image would
// weigh 66 KB of the program; what the window class loads must still load.
TEST_F(ProgramResources, EachIconIsOnePngImageOf128By128With32BitsAndLoads)
{
    for (int id : {107, 108}) {
        SCOPED_TRACE(testing::Message() << "icon " << id);
        const std::vector<BYTE> group = Raw(RT_GROUP_ICON, id);
        ASSERT_EQ(group.size(), 6u + 14u);  // header and one entry
        WORD count = 0;
        std::memcpy(&count, group.data() + 4, sizeof(count));
        EXPECT_EQ(count, 1);
        EXPECT_EQ(group[6], 128);  // width
        EXPECT_EQ(group[7], 128);  // height
        WORD bits = 0;
        std::memcpy(&bits, group.data() + 6 + 6, sizeof(bits));
        EXPECT_EQ(bits, 32);
        WORD imageId = 0;
        std::memcpy(&imageId, group.data() + 6 + 12, sizeof(imageId));
        const std::vector<BYTE> image = Raw(RT_ICON, imageId);
        const BYTE pngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        ASSERT_GE(image.size(), sizeof(pngSignature));
        EXPECT_EQ(std::memcmp(image.data(), pngSignature, sizeof(pngSignature)), 0);
        EXPECT_NE(LoadIconW(module_, MAKEINTRESOURCEW(id)), nullptr);
    }
}

// Resource enumeration callbacks are WINAPI (stdcall on 32-bit Windows), which lambdas are not.
BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR total)
{
    ++*reinterpret_cast<int*>(total);
    return TRUE;
}

BOOL CALLBACK CountManifestLanguages(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR total)
{
    EnumResourceLanguagesW(module, type, name, CountLanguage, total);
    return TRUE;
}

TEST_F(ProgramResources, ManifestIsEnglishAsInvokerWithoutUiAccessAndAlone)
{
    const std::vector<BYTE> data = RawResource(module_, RT_MANIFEST, 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_FALSE(data.empty());
    const std::string manifest(data.begin(), data.end());
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(manifest.find("dependency"), std::string::npos);
    EXPECT_EQ(manifest.find("compatibility"), std::string::npos);
    EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);

    int manifests = 0;
    EnumResourceNamesW(module_, RT_MANIFEST, CountManifestLanguages, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1);
}

TEST_F(ProgramResources, VersionNamesTheProductAndVersion118)
{
    const std::wstring path = driver::BuiltProgram();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(18, 1));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(18, 1));

    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\ProductName",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, L"Tixabo");
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\080404b0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_STREQ(text, L"1.18");
}

}  // namespace
