// The settings dialog: four of the five numeric settings and the picture
// folder, edited in place and stored on OK. Nothing is stored on Cancel.
#include "resource.h"
#include "saver_frame.h"
#include "slideshow.h"

#include <commctrl.h>

namespace {

void CheckButton(HWND dialog, int id) {
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, BST_CHECKED, 0);
}

bool IsChecked(HWND dialog, int id) {
    return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int32_t ReadEdit(HWND dialog, int id) {
    return static_cast<int32_t>(GetDlgItemInt(dialog, id, nullptr, FALSE));
}

// COMCTL32 4.00 of Windows 95 and NT 4.0 as shipped lacks InitCommonControlsEx;
// there InitCommonControls registers every class, the up-down control included.
void RegisterUpDownClass() {
    using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl = GetModuleHandleA("COMCTL32.DLL");
    FARPROC found = comctl ? GetProcAddress(comctl, "InitCommonControlsEx") : nullptr;
    auto initEx = ProcAs<InitExFn>(found);
    if (!initEx) {
        InitCommonControls();
        return;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_UPDOWN_CLASS;
    initEx(&controls);
}

// The folder's path and its button mean something only with the folder on.
void EnableFolderControls(HWND dialog) {
    const BOOL on = IsChecked(dialog, IDC_FOLDER_SHOW);
    EnableWindow(GetDlgItem(dialog, IDC_FOLDER_PATH), on);
    EnableWindow(GetDlgItem(dialog, IDC_FOLDER_BROWSE), on);
}

void ShowFolderSettings(HWND dialog) {
    ReadSettingDword(SHOW_FOLDER_VALUE, &g_slideshow.showFolder);
    if (g_slideshow.showFolder == 1) CheckButton(dialog, IDC_FOLDER_SHOW);
    ReadSettingText(FOLDER_PATH_VALUE, g_slideshow.folderPath, FOLDER_PATH_LIMIT);
    SetControlText(dialog, IDC_FOLDER_PATH, g_slideshow.folderPath);
    EnableFolderControls(dialog);
}

void ChooseFolder(HWND dialog) {
    if (BrowseForFolder(dialog, g_slideshow.folderPath, FOLDER_PATH_LIMIT))
        SetControlText(dialog, IDC_FOLDER_PATH, g_slideshow.folderPath);
}

BOOL OnInitDialog(HWND dialog) {
    ReadSwitchSecondsWithDefault();
    SetDlgItemInt(dialog, IDC_SWITCH_SECONDS, static_cast<UINT>(g_slideshow.switchSeconds), FALSE);

    ReadSettingDword(RANDOM_ORDER_VALUE, &g_slideshow.randomOrder);
    CheckButton(dialog, g_slideshow.randomOrder == 1 ? IDC_ORDER_RANDOM : IDC_ORDER_CATALOGUE);

    int32_t revealMs = static_cast<int32_t>(g_slideshow.revealIntervalMs);
    ReadSettingDword(REVEAL_MS_VALUE, &revealMs);
    g_slideshow.revealIntervalMs = static_cast<uint32_t>(revealMs);
    SetDlgItemInt(dialog, IDC_REVEAL_MS, g_slideshow.revealIntervalMs, FALSE);

    RegisterUpDownClass();
    // The arrows keep to sensible values; typing may go beyond them on purpose.
    SendMessageA(GetDlgItem(dialog, IDC_SWITCH_SPIN), UDM_SETRANGE32, 1, 300);
    SendMessageA(GetDlgItem(dialog, IDC_REVEAL_SPIN), UDM_SETRANGE32, 0, 30);

    ReadSettingDword(FIT_TO_SCREEN_VALUE, &g_slideshow.fitToScreen);
    CheckButton(dialog, g_slideshow.fitToScreen == 1 ? IDC_SIZE_FIT : IDC_SIZE_ORIGINAL);
    ShowFolderSettings(dialog);
    return TRUE;
}

void StoreControls(HWND dialog) {
    g_slideshow.switchSeconds = ReadEdit(dialog, IDC_SWITCH_SECONDS);
    WriteSettingDword(SWITCH_SECONDS_VALUE, g_slideshow.switchSeconds);
    g_slideshow.revealIntervalMs = static_cast<uint32_t>(ReadEdit(dialog, IDC_REVEAL_MS));
    WriteSettingDword(REVEAL_MS_VALUE, static_cast<int32_t>(g_slideshow.revealIntervalMs));
    g_slideshow.randomOrder = IsChecked(dialog, IDC_ORDER_CATALOGUE) ? 0 : 1;
    WriteSettingDword(RANDOM_ORDER_VALUE, g_slideshow.randomOrder);
    g_slideshow.fitToScreen = IsChecked(dialog, IDC_SIZE_ORIGINAL) ? 0 : 1;
    WriteSettingDword(FIT_TO_SCREEN_VALUE, g_slideshow.fitToScreen);
    g_slideshow.showFolder = IsChecked(dialog, IDC_FOLDER_SHOW) ? 1 : 0;
    WriteSettingDword(SHOW_FOLDER_VALUE, g_slideshow.showFolder);
    WriteSettingText(FOLDER_PATH_VALUE, g_slideshow.folderPath);
}

BOOL OnCommand(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
        case IDOK:
            StoreControls(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        case IDC_FOLDER_SHOW: EnableFolderControls(dialog); return TRUE;
        case IDC_FOLDER_BROWSE: ChooseFolder(dialog); return TRUE;
        default: return FALSE;
    }
}

}  // namespace

INT_PTR CALLBACK AppConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: return OnInitDialog(dialog);
        case WM_COMMAND: return OnCommand(dialog, wParam);
        default: return FALSE;
    }
}

BOOL AppPrepareDialogClasses(HINSTANCE) { return TRUE; }
