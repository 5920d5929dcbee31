; Velkorix-Setup.exe: installs the Velkorix Decoder (Velkorix.ax) and the
; Velkorix Stream Source (VelkorixSource.ax) for 32-bit programs and, on
; 64-bit Windows, for 64-bit programs too; registers each module with the
; regsvr32 of its bitness; adds an uninstaller and its entry in "Programs and
; Features". The uninstaller unregisters the modules and removes every file
; and key the installer made.
;
;   makensis -DWIN32_DIR=build/win32 -DWIN64_DIR=build/win64 \
;            -DOUT_FILE=build/Velkorix-Setup.exe installer/velkorix.nsi
; (scripts/build-installer.sh does this.) Silent: Velkorix-Setup.exe /S,
; Uninstall.exe /S.

Unicode true
!include "LogicLib.nsh"
!include "x64.nsh"

!ifndef WIN32_DIR
  !error "WIN32_DIR: the build of the win32 preset"
!endif
!ifndef WIN64_DIR
  !error "WIN64_DIR: the build of the win64 preset"
!endif
!ifndef OUT_FILE
  !define OUT_FILE "Velkorix-Setup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0.13571"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velkorix"

Name "Velkorix ${VERSION}"
OutFile "${OUT_FILE}"
; The 32-bit modules and the uninstaller; the 64-bit modules go to the
; Velkorix folder of the 64-bit program files.
InstallDir "$PROGRAMFILES32\Velkorix"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Velkorix"
VIAddVersionKey "CompanyName" "Velkorix"
VIAddVersionKey "FileDescription" "Velkorix setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Velkorix"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Registers (or with /u unregisters) MODULE with the regsvr32 in $SYSDIR
; (the 32-bit one, or the 64-bit one while redirection is off); a failure
; is reported and counted in $R9.
!macro Regsvr32 FLAGS MODULE
  ClearErrors
  ExecWait '"$SYSDIR\regsvr32.exe" /s ${FLAGS} "${MODULE}"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "regsvr32 ${FLAGS} ${MODULE} failed ($0)"
    IntOp $R9 $R9 + 1
  ${EndIf}
!macroend

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Velkorix"
  StrCpy $R9 0
  SetOutPath "$INSTDIR"
  File "${WIN32_DIR}\Velkorix.ax"
  File "${WIN32_DIR}\VelkorixSource.ax"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  !insertmacro Regsvr32 "" "$INSTDIR\Velkorix.ax"
  !insertmacro Regsvr32 "" "$INSTDIR\VelkorixSource.ax"

  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    SetOutPath "$PROGRAMFILES64\Velkorix"
    File "${WIN64_DIR}\Velkorix.ax"
    File "${WIN64_DIR}\VelkorixSource.ax"
    !insertmacro Regsvr32 "" "$PROGRAMFILES64\Velkorix\Velkorix.ax"
    !insertmacro Regsvr32 "" "$PROGRAMFILES64\Velkorix\VelkorixSource.ax"
    ${EnableX64FSRedirection}
    SetOutPath "$INSTDIR"
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Velkorix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Velkorix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ${If} $R9 != 0
    SetErrorLevel 3
    IfSilent +2
    MessageBox MB_ICONSTOP "$R9 module(s) could not be registered; see the details."
  ${EndIf}
SectionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $R9 0
  ${If} ${RunningX64}
    ${DisableX64FSRedirection}
    !insertmacro Regsvr32 "/u" "$PROGRAMFILES64\Velkorix\VelkorixSource.ax"
    !insertmacro Regsvr32 "/u" "$PROGRAMFILES64\Velkorix\Velkorix.ax"
    Delete "$PROGRAMFILES64\Velkorix\VelkorixSource.ax"
    Delete "$PROGRAMFILES64\Velkorix\Velkorix.ax"
    RMDir "$PROGRAMFILES64\Velkorix"
    ${EnableX64FSRedirection}
  ${EndIf}
  !insertmacro Regsvr32 "/u" "$INSTDIR\VelkorixSource.ax"
  !insertmacro Regsvr32 "/u" "$INSTDIR\Velkorix.ax"
  Delete "$INSTDIR\VelkorixSource.ax"
  Delete "$INSTDIR\Velkorix.ax"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} $R9 != 0
    SetErrorLevel 3
  ${EndIf}
SectionEnd
