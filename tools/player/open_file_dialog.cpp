#include "open_file_dialog.h"

#include "standin_player.h"

#include <vector>

namespace standin {
namespace {

// Predefined control classes, as ordinals in a dialog template (after the
// marker that says an ordinal follows).
constexpr WORD kOrdinalMarker = 0xFFFF;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kNoId = 0xFFFF; // a label nobody asks for
constexpr WORD kFontPoints = 8;
constexpr wchar_t kFontName[] = L"MS Shell Dlg";
constexpr wchar_t kPrompt[] = L"File name:";

// The records as the dialog manager reads them: packed, WORD after WORD.
static_assert(sizeof(DLGTEMPLATE) == 18 && sizeof(DLGITEMTEMPLATE) == 18);

// A dialog template in memory: the header, then one item after another, each
// starting on a DWORD boundary.
class Template {
  public:
    Template(const wchar_t* caption, short width, short height) {
        DLGTEMPLATE header{};
        header.style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        header.cx = width;
        header.cy = height;
        append(&header, sizeof header);
        words_.push_back(0); // no menu
        words_.push_back(0); // the standard dialog class
        text(caption);
        words_.push_back(kFontPoints);
        text(kFontName);
    }

    void item(WORD windowClass, WORD id, DWORD style, short x, short y, short cx, short cy,
              const wchar_t* title) {
        align();
        DLGITEMTEMPLATE entry{};
        entry.style = style | WS_CHILD | WS_VISIBLE;
        entry.x = x;
        entry.y = y;
        entry.cx = cx;
        entry.cy = cy;
        entry.id = id;
        append(&entry, sizeof entry);
        words_.push_back(kOrdinalMarker);
        words_.push_back(windowClass);
        text(title);
        words_.push_back(0); // no creation data
        ++reinterpret_cast<DLGTEMPLATE*>(words_.data())->cdit;
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void append(const void* data, std::size_t bytes) {
        const auto* from = static_cast<const WORD*>(data);
        words_.insert(words_.end(), from, from + bytes / sizeof(WORD));
    }
    void text(const wchar_t* value) {
        for (; *value; ++value)
            words_.push_back(static_cast<WORD>(*value));
        words_.push_back(0);
    }
    void align() {
        if (words_.size() % 2 != 0)
            words_.push_back(0);
    }
    // The heap aligns the block beyond the DWORD that the template needs.
    std::vector<WORD> words_;
};

INT_PTR CALLBACK openFileProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: {
            auto* name = reinterpret_cast<std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER));
            const HWND edit = GetDlgItem(dialog, kOpenFileNameId);
            const int length = GetWindowTextLengthW(edit);
            name->assign(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
            const int copied = GetWindowTextW(edit, &(*name)[0], length + 1);
            name->resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

} // namespace

std::optional<std::wstring> askForFile(HWND owner) {
    const std::wstring caption = wideFromAnsi(kOpenFileCaption);
    Template dialog(caption.c_str(), 220, 62);
    dialog.item(kStaticClass, kNoId, SS_LEFT, 7, 7, 206, 9, kPrompt);
    dialog.item(kEditClass, kOpenFileNameId, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 18, 206,
                14, L"");
    dialog.item(kButtonClass, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 109, 40, 50, 14, L"OK");
    dialog.item(kButtonClass, IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 163, 40, 50, 14, L"Cancel");
    std::wstring name;
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.get(), owner,
                                                   openFileProc, reinterpret_cast<LPARAM>(&name));
    if (answer != IDOK || name.empty())
        return std::nullopt;
    return name;
}

std::wstring titleOfFile(const std::wstring& path) {
    const std::size_t folder = path.find_last_of(L"\\/");
    std::wstring name = folder == std::wstring::npos ? path : path.substr(folder + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.resize(dot);
    return name.empty() ? path : name;
}

} // namespace standin
