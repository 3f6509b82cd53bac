#include "resources_reader.h"

#include <cstring>

namespace {

// Walks a template front to back; any read past the end marks it failed.
class TemplateCursor {
public:
    explicit TemplateCursor(const std::vector<BYTE>& raw) : raw_(raw) {}

    bool ok() const { return ok_; }

    template <typename T>
    T Read()
    {
        T value{};
        if (offset_ + sizeof(T) > raw_.size()) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, raw_.data() + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    std::wstring ReadString()
    {
        std::wstring text;
        while (ok_) {
            const wchar_t c = static_cast<wchar_t>(Read<WORD>());
            if (c == L'\0') {
                break;
            }
            text += c;
        }
        return text;
    }

    // A name or, after 0xFFFF, an ordinal; standard control classes by ordinal
    // are given their names.
    std::wstring ReadNameOrOrdinal()
    {
        if (PeekWord() != 0xFFFF) {
            return ReadString();
        }
        Read<WORD>();
        const WORD ordinal = Read<WORD>();
        switch (ordinal) {
        case 0x80: return L"button";
        case 0x81: return L"edit";
        case 0x82: return L"static";
        case 0x83: return L"listbox";
        case 0x84: return L"scrollbar";
        case 0x85: return L"combobox";
        default: return L"#" + std::to_wstring(ordinal);
        }
    }

    void Skip(std::size_t bytes)
    {
        offset_ += bytes;
        ok_ = ok_ && offset_ <= raw_.size();
    }

    void AlignToDword() { Skip((4 - offset_ % 4) % 4); }

private:
    WORD PeekWord()
    {
        const std::size_t at = offset_;
        const WORD word = Read<WORD>();
        offset_ = at;
        return word;
    }

    const std::vector<BYTE>& raw_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

DialogControl ReadControl(TemplateCursor& cursor)
{
    DialogControl control;
    cursor.AlignToDword();
    cursor.Read<DWORD>();  // help id
    control.exStyle = cursor.Read<DWORD>();
    control.style = cursor.Read<DWORD>();
    control.x = cursor.Read<short>();
    control.y = cursor.Read<short>();
    control.cx = cursor.Read<short>();
    control.cy = cursor.Read<short>();
    control.id = cursor.Read<DWORD>();
    control.className = Lower(cursor.ReadNameOrOrdinal());
    control.text = cursor.ReadNameOrOrdinal();
    cursor.Skip(cursor.Read<WORD>());  // creation data
    return control;
}

}  // namespace

HMODULE LoadModuleAsData(const wchar_t* path)
{
    return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::vector<BYTE> RawResource(HMODULE module, LPCWSTR type, int id, WORD language)
{
    const HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const BYTE*>(LockResource(loaded));
    if (bytes == nullptr) {
        return {};
    }
    return std::vector<BYTE>(bytes, bytes + SizeofResource(module, found));
}

bool ParseDialogTemplate(const std::vector<BYTE>& raw, DialogTemplate& dialog)
{
    TemplateCursor cursor(raw);
    const WORD version = cursor.Read<WORD>();
    const WORD signature = cursor.Read<WORD>();
    if (version != 1 || signature != 0xFFFF) {
        return false;
    }
    cursor.Read<DWORD>();  // help id
    dialog.exStyle = cursor.Read<DWORD>();
    dialog.style = cursor.Read<DWORD>();
    const WORD controlCount = cursor.Read<WORD>();
    dialog.x = cursor.Read<short>();
    dialog.y = cursor.Read<short>();
    dialog.cx = cursor.Read<short>();
    dialog.cy = cursor.Read<short>();
    cursor.ReadNameOrOrdinal();  // menu
    cursor.ReadNameOrOrdinal();  // window class
    dialog.caption = cursor.ReadString();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = cursor.Read<WORD>();
        cursor.Read<WORD>();  // weight
        cursor.Read<BYTE>();  // italic
        cursor.Read<BYTE>();  // character set
        dialog.fontName = cursor.ReadString();
    }
    dialog.controls.clear();
    for (WORD i = 0; i < controlCount && cursor.ok(); ++i) {
        dialog.controls.push_back(ReadControl(cursor));
    }
    return cursor.ok();
}
