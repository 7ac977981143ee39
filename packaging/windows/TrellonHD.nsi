; The installer of TrellonHD for 64-bit Windows (NSIS 3, Modern UI 2).
; packaging/windows/CMakeLists.txt makes it from the ready folder and gives
; it, with -D, everything that comes from the build: VERSION and
; VERSION_NUMBERS (the project's version, the second as four numbers for the
; file's version resource), READY (the ready folder), ICON (the program's
; icon), WELCOME (the picture of the first and last pages) and OUTFILE.
;
; It installs for all users: the programs and sheets into Program Files (the
; programs look for the sheets beside themselves), a Start menu entry, the
; ".dk2" file type, and the entry of the system's list of programs, all in
; the 64-bit view of the registry. The uninstaller takes away exactly these;
; the journal folder of unsaved recordings (%LOCALAPPDATA%\TrellonHD) is the
; user's and stays. It speaks the system's language when that is Russian,
; English otherwise, and the uninstaller speaks the language the installer
; spoke.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TrellonHD"
!define PROGID "TrellonHD.Video"
; The installer's language, kept for the uninstaller in its own entry,
; which goes with it.
!define LANGUAGE_VALUE "NSIS:Language"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "TrellonHD ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\TrellonHD"
; A new version goes where the last one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "TrellonHD ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${WELCOME}"
!define MUI_ABORTWARNING

!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(UninstallText)"
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first is the one for every other system language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

LangString WelcomeText ${LANG_ENGLISH} "This will install TrellonHD ${VERSION} for all users of this computer: trellonhd.exe, which records the screen of the running Warcraft II into $\".dk2$\" videos and plays them back, and trellon.exe, which does the same from a command prompt.$\r$\n$\r$\nThe Start menu gets TrellonHD, and $\".dk2$\" files open in it.$\r$\n$\r$\n$_CLICK"
LangString WelcomeText ${LANG_RUSSIAN} "Будет установлен TrellonHD ${VERSION} для всех пользователей этого компьютера: trellonhd.exe записывает экран запущенной игры Warcraft II в видео «.dk2» и воспроизводит их, trellon.exe делает то же из командной строки.$\r$\n$\r$\nВ меню «Пуск» появится TrellonHD, и файлы «.dk2» будут открываться в нём.$\r$\n$\r$\n$_CLICK"
LangString UninstallText ${LANG_ENGLISH} "TrellonHD will be removed from the folder below: its programs, its Start menu entry and the $\".dk2$\" file type. Your videos and the journal of unsaved recordings (%LOCALAPPDATA%\TrellonHD) stay where they are."
LangString UninstallText ${LANG_RUSSIAN} "TrellonHD будет удалён из папки, указанной ниже: его программы, пункт меню «Пуск» и тип файлов «.dk2». Ваши видео и журнал несохранённых записей (%LOCALAPPDATA%\TrellonHD) останутся на месте."
LangString ShortcutDescription ${LANG_ENGLISH} "Record and play the screen of Warcraft II"
LangString ShortcutDescription ${LANG_RUSSIAN} "Запись и просмотр экрана Warcraft II"
LangString FileTypeName ${LANG_ENGLISH} "TrellonHD video"
LangString FileTypeName ${LANG_RUSSIAN} "Видео TrellonHD"
LangString Needs64Bit ${LANG_ENGLISH} "TrellonHD needs a 64-bit Windows."
LangString Needs64Bit ${LANG_RUSSIAN} "TrellonHD работает только в 64-разрядной Windows."

VIProductVersion "${VERSION_NUMBERS}"
VIFileVersion "${VERSION_NUMBERS}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "TrellonHD"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "TrellonHD setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "TrellonHD"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "TrellonHD"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "TrellonHD"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "Установка TrellonHD"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "CompanyName" "TrellonHD"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" "TrellonHD"

Function .onInit
  ; The programs are 64-bit only. A 32-bit Windows refuses this amd64
  ; installer itself before it runs, which makes the check a constant here;
  ; it keeps the message for an installer built for x86.
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "$(Needs64Bit)" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Section "TrellonHD"
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${READY}/trellonhd.exe"
  File "${READY}/trellon.exe"
  File "${READY}/font1.bmp"
  File "${READY}/font2.bmp"
  File "${READY}/units.bmp"
  File "${READY}/README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Started from the menu, the program's working folder is its own.
  SetShellVarContext all
  CreateShortCut "$SMPROGRAMS\TrellonHD.lnk" "$INSTDIR\trellonhd.exe" "" \
    "$INSTDIR\trellonhd.exe" 0 SW_SHOWNORMAL "" "$(ShortcutDescription)"

  WriteRegStr HKLM "Software\Classes\.dk2" "" "${PROGID}"
  WriteRegStr HKLM "Software\Classes\.dk2\OpenWithProgids" "${PROGID}" ""
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "$(FileTypeName)"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\trellonhd.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\trellonhd.exe" "%1"'
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "TrellonHD"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "TrellonHD"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\trellonhd.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegStr HKLM "${UNINSTALL_KEY}" "${LANGUAGE_VALUE}" "$LANGUAGE"
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetRegView 64
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "${LANGUAGE_VALUE}"
  ${If} $0 != ""
    StrCpy $LANGUAGE $0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\TrellonHD.lnk"

  ; By name: whatever else a user put into the folder is theirs, and then
  ; the folder stays with it.
  Delete "$INSTDIR\trellonhd.exe"
  Delete "$INSTDIR\trellon.exe"
  Delete "$INSTDIR\font1.bmp"
  Delete "$INSTDIR\font2.bmp"
  Delete "$INSTDIR\units.bmp"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; ".dk2" keeps another program that took it since, and that program's
  ; keys.
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegValue HKLM "Software\Classes\.dk2\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "Software\Classes\.dk2\OpenWithProgids"
  ReadRegStr $0 HKLM "Software\Classes\.dk2" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue HKLM "Software\Classes\.dk2" ""
  ${EndIf}
  DeleteRegKey /ifempty HKLM "Software\Classes\.dk2"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
