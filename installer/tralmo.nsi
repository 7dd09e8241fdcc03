; Tralmo setup: puts gen_tralmo.dll into Winamp's Plugins folder and registers
; an uninstaller that removes exactly that.
;
; installer/CMakeLists.txt builds it:
;   makensis -DVERSION=1.0.0.5 -DDLL=path/gen_tralmo.dll -DICON=path/main.ico
;            -DOUTFILE=path/tralmo-1.0.0.5-setup.exe tralmo.nsi
;
; Command line: /S installs silently; /D=<Winamp folder> (last, unquoted)
; names the player's folder instead of looking it up. The uninstaller takes /S.
;
; Exit codes: 0 installed or removed; 1 cancelled by the user; 2 failed;
; 3 refused because Winamp is running; 4 no Winamp folder (silent mode only).

!ifndef VERSION
!error "define VERSION"
!endif
!ifndef DLL
!error "define DLL"
!endif
!ifndef ICON
!error "define ICON"
!endif
!ifndef OUTFILE
!error "define OUTFILE"
!endif

!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Tralmo"
!define PLUGIN_DLL "gen_tralmo.dll"
!define UNINSTALLER "uninstall_tralmo.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tralmo"
!define PLAYER_EXE "winamp.exe"
!define PLAYER_WINDOW_CLASS "Winamp v1.x"
!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"

!define EXIT_FAILED 2
!define EXIT_PLAYER_RUNNING 3
!define EXIT_NO_PLAYER 4

Unicode true
SetCompressor /SOLID lzma
; Program Files and HKLM need it.
RequestExecutionLevel admin
ManifestDPIAware true
XPStyle on
CRCCheck on
; Without the file's own date the same DLL always gives the same installer.
SetDateSave off
; A plug-in file that cannot be written must fail the install, also in silent mode.
AllowSkipFiles off

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
LangString ChooseFolder 0 "Setup could not find Winamp. Choose the folder where Winamp is \
installed (the one that holds ${PLAYER_EXE}); ${PRODUCT} goes into its Plugins folder."
LangString RegistrationFailed 0 "Setup could not register the uninstaller. ${PLUGIN_DLL} is \
in $INSTDIR\Plugins; run setup again as an administrator."
LangString RemovalFailed 0 "$INSTDIR\${PLUGIN_DLL} could not be removed. Close every \
program that may use it and uninstall again."
DirText "$(ChooseFolder)" "Winamp folder"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 ${PRODUCT}"

Page directory skipDirectoryWhenFound
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Winamp holds the plug-in loaded while it runs: neither replace nor remove it
; under its feet. Asks until Winamp is closed or the user gives up.
!macro DEFINE_REFUSE_WHILE_PLAYER_RUNS un
Function ${un}refuseWhilePlayerRuns
    ${Do}
        FindWindow $0 "${PLAYER_WINDOW_CLASS}"
        ${If} $0 = 0
            Return
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "Winamp is running. Please close Winamp, then click Retry." \
            /SD IDCANCEL IDRETRY +3
        SetErrorLevel ${EXIT_PLAYER_RUNNING}
        Quit
    ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_REFUSE_WHILE_PLAYER_RUNS ""
!insertmacro DEFINE_REFUSE_WHILE_PLAYER_RUNS "un."

; $0: a command line. Leaves in $0 the program it runs: the quoted part, or
; the whole line when it starts without a quote.
Function programOfCommand
    StrCpy $1 $0 1
    ${If} $1 != '"'
        Return
    ${EndIf}
    StrCpy $0 $0 "" 1
    StrCpy $2 0
    ${Do}
        StrCpy $1 $0 1 $2
        ${IfThen} $1 == '"' ${|} ${ExitDo} ${|}
        ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
        IntOp $2 $2 + 1
    ${Loop}
    StrCpy $0 $0 $2
FunctionEnd

; Sets $INSTDIR to Winamp's folder: the folder of Winamp's own uninstaller,
; else Program Files\Winamp. A folder counts only when it holds winamp.exe.
Function findPlayerFolder
    ReadRegStr $0 HKLM "${PLAYER_UNINSTALL_KEY}" "UninstallString"
    ${If} $0 != ""
        Call programOfCommand
        ${GetParent} $0 $3
        ${If} $3 != ""
        ${AndIf} ${FileExists} "$3\${PLAYER_EXE}"
            StrCpy $INSTDIR $3
            Return
        ${EndIf}
    ${EndIf}
    ${If} ${FileExists} "$PROGRAMFILES\Winamp\${PLAYER_EXE}"
        StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
    ${EndIf}
FunctionEnd

Function .onInit
    Call refuseWhilePlayerRuns
    ; /D= sets $INSTDIR before this runs.
    ${If} $INSTDIR == ""
        Call findPlayerFolder
    ${EndIf}
    ${If} $INSTDIR != ""
    ${AndIf} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        Return
    ${EndIf}
    ; Nobody to ask in silent mode, and guessing would put the plug-in where no
    ; player loads it.
    ${If} ${Silent}
        SetErrorLevel ${EXIT_NO_PLAYER}
        Quit
    ${EndIf}
    ${If} $INSTDIR == ""
        StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
    ${EndIf}
FunctionEnd

Function skipDirectoryWhenFound
    ${If} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        Abort
    ${EndIf}
FunctionEnd

; Keeps Next disabled until the chosen folder holds winamp.exe.
Function .onVerifyInstDir
    ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        Abort
    ${EndIf}
FunctionEnd

Section "${PRODUCT}"
    ; Winamp may have been started while the pages were shown.
    Call refuseWhilePlayerRuns
    SetOutPath "$INSTDIR\Plugins"
    File "/oname=${PLUGIN_DLL}" "${DLL}"
    ClearErrors
    WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} plug-in for Winamp"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Plugins\${PLUGIN_DLL},0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR\Plugins"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${If} ${Errors}
        MessageBox MB_OK|MB_ICONSTOP "$(RegistrationFailed)" /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}
    DetailPrint "Start Winamp: ${PRODUCT} appears under Plug-ins, General Purpose."
SectionEnd

Function un.onInit
    Call un.refuseWhilePlayerRuns
FunctionEnd

; Removes only what setup put there; Winamp's ini keeps the settings.
Section "Uninstall"
    Call un.refuseWhilePlayerRuns
    ClearErrors
    Delete "$INSTDIR\${PLUGIN_DLL}"
    ${If} ${Errors}
        ; Keep the uninstaller and its entry so that the user can try again.
        MessageBox MB_OK|MB_ICONSTOP "$(RemovalFailed)" /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
