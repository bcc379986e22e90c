; Stadiolink's Windows installer (NSIS 3, 64-bit). Built by CMake:
;   makensis -DVERSION=1.0 -DPROGRAM=Stadiolink.exe -DOUTFILE=... stadiolink.nsi
; Installs into Program Files\Velmora\Stadiolink, adds a Start-menu entry,
; registers its uninstaller with the system's list of installed programs,
; runs silently with /S and installs over an earlier version in place. The
; uninstaller removes what was installed; the observation journals
; (%APPDATA%\Stadiolink of each user) are the surveyor's data and stay.
Unicode true
Target amd64-unicode
!ifdef FAST_COMPRESSION
  SetCompressor zlib
!else
  SetCompressor /SOLID lzma
!endif

!ifndef VERSION | PROGRAM | OUTFILE
  !error "VERSION, PROGRAM and OUTFILE must be defined"
!endif

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora Stadiolink"

!include "MUI2.nsh"
!include "x64.nsh"

Name "Stadiolink ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Velmora\Stadiolink"
RequestExecutionLevel admin
BrandingText "Velmora Stadiolink ${VERSION}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Stadiolink"
VIAddVersionKey /LANG=1033 "CompanyName" "Velmora"
VIAddVersionKey /LANG=1033 "FileDescription" "Stadiolink ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Velmora"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Stadiolink.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "Stadiolink needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; An earlier version is replaced where it is.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Section "Stadiolink"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=Stadiolink.exe" "${PROGRAM}"
!ifdef QT_LICENSE
  File "/oname=Qt-LGPL-3.txt" "${QT_LICENSE}"
!endif
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Velmora"
  CreateShortcut "$SMPROGRAMS\Velmora\Stadiolink.lnk" "$INSTDIR\Stadiolink.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Stadiolink"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Velmora"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Stadiolink.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\Stadiolink.exe"
  Delete "$INSTDIR\Qt-LGPL-3.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."   ; Velmora, when nothing else of it is there
  Delete "$SMPROGRAMS\Velmora\Stadiolink.lnk"
  RMDir "$SMPROGRAMS\Velmora"
  DeleteRegKey HKLM "${UNINST_KEY}"
  ; The observation journals in each user's %APPDATA%\Stadiolink are not
  ; touched: they are measured data, not part of the program.
SectionEnd
