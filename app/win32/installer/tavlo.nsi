; The per-user installer of Tavlo: no administrator rights, into
; %LOCALAPPDATA%\Programs\Tavlo (a folder the user may write, so the program
; can keep Blocklist.txt beside itself), with a Start-menu shortcut and an
; uninstaller registered for the user. /S runs either of them silently.
;
; Built by the mingw build's `installer` target:
;   makensis -DVERSION=X.Y.Z -DBUILD_DIR=<build folder> -DOUTFILE=<setup.exe> tavlo.nsi
; BUILD_DIR holds tavlo.exe, Sound/Pling.wav and Animation/Tavlo.scr.

; A 64-bit installer for the 64-bit program (it also runs where only 64-bit
; Windows programs can).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION
  !error "VERSION is not defined (makensis -DVERSION=...)"
!endif
!ifndef BUILD_DIR
  !error "BUILD_DIR is not defined (makensis -DBUILD_DIR=...)"
!endif
!ifndef OUTFILE
  !define OUTFILE "tavlo-setup.exe"
!endif

!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Tavlo"
!define PUBLISHER "Tavlo (www.tavlo.se)"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavlo"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The program's log-on entry: a value named after the executable's base name.
!define RUN_VALUE "tavlo"
!define SETTINGS_KEY "Software\Tavlo"
; The running program's main window: "Tavlo" and one no-break space, and
; its "Exit" command.
!define MAIN_TITLE "Tavlo${U+00A0}"
!define EXIT_COMMAND 32771

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tavlo"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage components
UninstPage instfiles

; Ends a running Tavlo through its own "Exit" command (the tray icon goes
; with it) and waits up to ten seconds for its window to go. A copy that
; does not end is reported; silent runs go on.
!macro EndRunningTavlo un
Function ${un}EndRunningTavlo
  StrCpy $1 0
  ${Do}
    FindWindow $0 "#32770" "${MAIN_TITLE}"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    ${If} $1 = 0
      DetailPrint "Ending the running Tavlo"
      SendMessage $0 ${WM_COMMAND} ${EXIT_COMMAND} 0 /TIMEOUT=2000
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > 100
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Tavlo is still running. Please end it (File > Exit) and choose Retry." \
        /SD IDCANCEL IDRETRY retry
      ${Break}
      retry:
      StrCpy $1 0
    ${EndIf}
    Sleep 100
  ${Loop}
  ; The process may hold its executable a moment longer than its window.
  Sleep 500
FunctionEnd
!macroend
!insertmacro EndRunningTavlo ""
!insertmacro EndRunningTavlo "un."

Section "Tavlo" SecProgram
  SectionIn RO
  Call EndRunningTavlo
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/tavlo.exe"
  SetOutPath "$INSTDIR\Sound"
  File "${BUILD_DIR}/Sound/Pling.wav"
  SetOutPath "$INSTDIR\Animation"
  File "${BUILD_DIR}/Animation/Tavlo.scr"
  SetOutPath "$INSTDIR"

  CreateShortCut "$SMPROGRAMS\Tavlo.lnk" "$INSTDIR\tavlo.exe" "" "$INSTDIR\tavlo.exe" 0

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavlo.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "http://www.tavlo.se/quendel/en"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "un.Tavlo" SecUnProgram
  SectionIn RO
  Call un.EndRunningTavlo
  SetShellVarContext current
  Delete "$INSTDIR\tavlo.exe"
  Delete "$INSTDIR\Sound\Pling.wav"
  RMDir "$INSTDIR\Sound"
  Delete "$INSTDIR\Animation\Tavlo.scr"
  RMDir "$INSTDIR\Animation"
  Delete "$SMPROGRAMS\Tavlo.lnk"

  ; The log-on entry, when it is this copy's (quoted when the path has a
  ; blank); another copy's entry stays.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == "$INSTDIR\tavlo.exe"
  ${OrIf} $0 == '"$INSTDIR\tavlo.exe"'
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}

  Delete "$INSTDIR\Uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Left while it still holds the user's blocked senders.
  RMDir "$INSTDIR"
SectionEnd

; Not chosen unless the user asks (a silent run keeps everything).
Section /o "un.Remove my settings, accounts and blocked senders" SecUnSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  Delete "$INSTDIR\Blocklist.txt"
  RMDir "$INSTDIR"
SectionEnd
