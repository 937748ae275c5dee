; The Ferrodex installer: puts ferrodex.dll (and, when given, the engine
; package) into the program folder, registers the snap-in through the
; module's own DllRegisterServer, describes the engine package where the
; scan looks for it, and leaves an uninstaller that undoes all of it.
; Made by tools/installer/make-installer.sh, which passes:
;
;   /DFDX_DLL=path           the module (required)
;   /DFDX_OUTFILE=path       the installer to write (required)
;   /DFDX_VERSION=x.y        the product version
;   /DFDX_CLSID={...}        the snap-in's class, /DFDX_ABOUT_CLSID={...} its About class
;   /DFDX_ENGINE_PACKAGE=path, /DFDX_ENGINE_VERSION=..., /DFDX_ENGINE_SIGNATURE=hex,
;   /DFDX_ENGINE_ARCH="x86_64 aarch64"   the engine package and its description (optional)
;
; /S installs (and the uninstaller uninstalls) without any window; the exit
; code is 0 on success.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef FDX_DLL | FDX_OUTFILE | FDX_CLSID | FDX_ABOUT_CLSID
  !error "FDX_DLL, FDX_OUTFILE, FDX_CLSID and FDX_ABOUT_CLSID must be defined"
!endif
!ifndef FDX_VERSION
  !define FDX_VERSION "1.1"
!endif

!define PRODUCT "Ferrodex"
!define PUBLISHER "Quillon"
; Where the scan reads the engine package's description.
!define PRODUCT_KEY "Software\Quillon\Ferrodex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ferrodex"
!define SNAPIN_KEY "Software\Microsoft\MMC\SnapIns\${FDX_CLSID}"
; The scan reads the package folder into a buffer of 130 characters, with
; the "engine\" part and its terminator.
!define MAX_FOLDER_LENGTH 120

!include "MUI2.nsh"
!include "LogicLib.nsh"

Name "${PRODUCT}"
OutFile "${FDX_OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FDX_VERSION}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${FDX_VERSION}"
VIAddVersionKey "ProductVersion" "${FDX_VERSION}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onVerifyInstDir
  StrLen $0 "$INSTDIR"
  ${If} $0 > ${MAX_FOLDER_LENGTH}
    Abort
  ${EndIf}
FunctionEnd

; Runs regsvr32 on the installed module; $0 is its exit code.
!macro Regsvr32 FLAGS
  ClearErrors
  ExecWait '"$SYSDIR\regsvr32.exe" ${FLAGS} "$INSTDIR\ferrodex.dll"' $0
  ${If} ${Errors}
    StrCpy $0 "not run"
  ${EndIf}
!macroend

; The snap-in's keys, for when the module cannot remove them itself.
!macro RemoveSnapinKeys
  DeleteRegKey HKCR "CLSID\${FDX_CLSID}"
  DeleteRegKey HKCR "CLSID\${FDX_ABOUT_CLSID}"
  DeleteRegKey HKLM "${SNAPIN_KEY}"
!macroend

; The files, the machine's record of the product (the package description
; and what the module noted there, and the SSH engine's random seed) and the
; entry of the installed programs. Each user's own settings and known host
; keys (HKCU) stay theirs.
!macro RemoveInstall
  SetOutPath "$TEMP"
  Delete "$INSTDIR\ferrodex.dll"
  Delete "$INSTDIR\engine\lshw-*.tar.gz"
  RMDir "$INSTDIR\engine"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey HKLM "Software\Quillon\Corvel"
  DeleteRegKey /ifempty HKLM "Software\Quillon"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
!macroend

!macro RemoveEngineDescription
  DeleteRegValue HKLM "${PRODUCT_KEY}" "LSHWPath"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "LSHWName"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "LSHWVersion"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "LSHWCRC"
  DeleteRegValue HKLM "${PRODUCT_KEY}" "LSHWArch"
!macroend

Section "Ferrodex" SecMain
  SectionIn RO
  ; Silent installs skip the directory page and its check.
  StrLen $0 "$INSTDIR"
  ${If} $0 > ${MAX_FOLDER_LENGTH}
    MessageBox MB_OK|MB_ICONSTOP "The folder $INSTDIR is too long: at most ${MAX_FOLDER_LENGTH} characters." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=ferrodex.dll" "${FDX_DLL}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; A package from an earlier install is described no more unless this one
  ; brings its own.
  !insertmacro RemoveEngineDescription
!ifdef FDX_ENGINE_PACKAGE
  SetOutPath "$INSTDIR\engine"
  File "/oname=lshw-${FDX_ENGINE_VERSION}.tar.gz" "${FDX_ENGINE_PACKAGE}"
  WriteRegStr HKLM "${PRODUCT_KEY}" "LSHWPath" "$INSTDIR\engine\"
  WriteRegStr HKLM "${PRODUCT_KEY}" "LSHWName" "lshw-${FDX_ENGINE_VERSION}.tar.gz"
  WriteRegStr HKLM "${PRODUCT_KEY}" "LSHWVersion" "${FDX_ENGINE_VERSION}"
  WriteRegStr HKLM "${PRODUCT_KEY}" "LSHWCRC" "${FDX_ENGINE_SIGNATURE}"
  WriteRegStr HKLM "${PRODUCT_KEY}" "LSHWArch" "${FDX_ENGINE_ARCH}"
  SetOutPath "$INSTDIR"
!endif

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${FDX_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  !insertmacro Regsvr32 "/s"
  ${If} $0 != 0
    DetailPrint "regsvr32 could not register ferrodex.dll (exit code $0)"
    ; Nothing half-installed stays behind.
    !insertmacro RemoveSnapinKeys
    !insertmacro RemoveInstall
    MessageBox MB_OK|MB_ICONSTOP "The snap-in could not be registered (regsvr32 exit code $0): nothing was installed." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
  DetailPrint "Registered the snap-in ${FDX_CLSID}"
SectionEnd

Section "Uninstall"
  !insertmacro Regsvr32 "/u /s"
  ${If} $0 != 0
    DetailPrint "regsvr32 /u gave exit code $0: removing the snap-in's keys here"
  ${EndIf}
  !insertmacro RemoveSnapinKeys

  !insertmacro RemoveInstall
SectionEnd
