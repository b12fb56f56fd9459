; The Dunmere installer: puts Dunmere.scr into the Windows folder, where the
; display settings of every Windows version look for savers (and which 64-bit
; Windows does not redirect for 32-bit programs), the read-me files, the
; picture credits and the uninstaller into the program folder, and on request
; makes Dunmere the active saver.
;
; An ANSI installer, so that it runs on Windows 95/98 too. This file is UTF-8;
; makensis is run with -INPUTCHARSET UTF8 and turns the Japanese texts into
; code page 932 through the Japanese language file.
;
; tools/package defines VERSION (the CMake project version), STAGE (the folder
; holding Dunmere.scr, the read-me files and CREDITS.txt), ICON, OUTFILE and, when it
; signs, SIGN_COMMAND (a command that signs the file named after it in place).
;
; Silent install: Setup.exe /S [/NOACTIVATE] [/D=FOLDER]
; Silent uninstall: Uninstall.exe /S

Unicode false
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinVer.nsh
!include Sections.nsh

!define SAVER "Dunmere.scr"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dunmere"
!define SETTINGS_PARENT "Software\Mirelvane"
!define DESKTOP_KEY "Control Panel\Desktop"
!define SPI_SETSCREENSAVEACTIVE 17
!define SPIF_UPDATE_AND_SEND 3 ; SPIF_UPDATEINIFILE | SPIF_SENDCHANGE

Name "Dunmere ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Dunmere"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Mirelvane"
ShowInstDetails show
ShowUninstDetails show

!ifdef SIGN_COMMAND
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "$(OPEN_SETTINGS)"
!define MUI_FINISHPAGE_RUN_FUNCTION OpenSaverSettings
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-ja.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "$(SHOW_README)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; Shows the restart choice when the saver was in use and is removed at the next start.
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "Japanese"

LangString SECTION_SAVER ${LANG_JAPANESE} "Dunmere スクリーン セーバー"
LangString SECTION_ACTIVATE ${LANG_JAPANESE} "Dunmere を使用するスクリーン セーバーにする"
LangString OPEN_SETTINGS ${LANG_JAPANESE} "スクリーン セーバーの設定を開く"
LangString SHOW_README ${LANG_JAPANESE} "お読みください (README) を表示する"
LangString NEED_ADMIN ${LANG_JAPANESE} "Dunmere のインストールと削除には管理者の権限が必要です。管理者としてログオンしてから、もう一度実行してください。"

VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "Dunmere"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "Mirelvane"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "Dunmere セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "Mirelvane"

; Windows NT keeps the Windows folder and HKLM for administrators; Windows 9x
; has no such rights, and there everybody may install.
!macro REQUIRE_ADMIN
  ${If} ${IsNT}
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "$(NEED_ADMIN)" /SD IDOK
      SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
      Quit
    ${EndIf}
  ${EndIf}
!macroend

Section "$(SECTION_SAVER)" SectionSaver
  SectionIn RO
  SetOutPath "$WINDIR"
  File "${STAGE}\${SAVER}"

  SetOutPath "$INSTDIR"
  File "${STAGE}\README-ja.txt"
  File "${STAGE}\README-en.txt"
  File "${STAGE}\CREDITS.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Sizes in KB, as the uninstall entry wants them.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ${GetSize} "$WINDIR" "/M=${SAVER} /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Dunmere"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Mirelvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$WINDIR\${SAVER},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The display settings start the saver through SCRNSAVE.EXE, and Windows runs a
; saver whose path holds blanks or long names unreliably: the short form of the
; path is what goes there.
Section "$(SECTION_ACTIVATE)" SectionActivate
  GetFullPathName /SHORT $0 "$WINDIR\${SAVER}"
  ${If} $0 == ""
    StrCpy $0 "$WINDIR\${SAVER}"
  ${EndIf}
  WriteRegStr HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE" "$0"
  ${IfNot} ${IsNT}
    WriteINIStr "$WINDIR\system.ini" "boot" "SCRNSAVE.EXE" "$0"
  ${EndIf}
  System::Call "user32::SystemParametersInfoA(i ${SPI_SETSCREENSAVEACTIVE}, i 1, i 0, i ${SPIF_UPDATE_AND_SEND}) i"
SectionEnd

Function .onInit
  !insertmacro REQUIRE_ADMIN
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOACTIVATE" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SectionActivate}
  ${EndIf}
FunctionEnd

; The screen-saver page of the display settings.
Function OpenSaverSettings
  ${If} ${AtLeastWinVista}
    Exec '"$SYSDIR\control.exe" desk.cpl,,@screensaver'
  ${Else}
    Exec 'rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,1'
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro REQUIRE_ADMIN
FunctionEnd

; $0 = the saver setting, $1 and $2 = the two forms of Dunmere's path. Leaves
; $3 = 1 when the setting names Dunmere (StrCmp ignores case, as Windows does).
Function un.NamesDunmere
  StrCpy $3 0
  ${If} $0 != ""
    ${If} $0 == $1
    ${OrIf} $0 == $2
      StrCpy $3 1
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The short form can only be had while the file still exists.
  StrCpy $2 "$WINDIR\${SAVER}"
  GetFullPathName /SHORT $1 "$2"

  ; Another saver chosen since stays chosen.
  ReadRegStr $0 HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
  Call un.NamesDunmere
  ${If} $3 == 1
    DeleteRegValue HKCU "${DESKTOP_KEY}" "SCRNSAVE.EXE"
    ; As the display settings do when "none" is chosen.
    System::Call "user32::SystemParametersInfoA(i ${SPI_SETSCREENSAVEACTIVE}, i 0, i 0, i ${SPIF_UPDATE_AND_SEND}) i"
  ${EndIf}
  ${IfNot} ${IsNT}
    ReadINIStr $0 "$WINDIR\system.ini" "boot" "SCRNSAVE.EXE"
    Call un.NamesDunmere
    ${If} $3 == 1
      DeleteINIStr "$WINDIR\system.ini" "boot" "SCRNSAVE.EXE"
    ${EndIf}
  ${EndIf}

  ; A saver that runs right now goes at the next start.
  Delete /REBOOTOK "$WINDIR\${SAVER}"
  Delete "$INSTDIR\README-ja.txt"
  Delete "$INSTDIR\README-en.txt"
  Delete "$INSTDIR\CREDITS.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETTINGS_PARENT}\Dunmere"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
SectionEnd
