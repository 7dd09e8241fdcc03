; Tralmo setup: puts gen_tralmo.dll into the Plugins folder of Winamp or of
; WACUP (which loads Winamp's plug-ins) and registers an uninstaller that
; removes exactly that.
;
; installer/CMakeLists.txt builds it:
;   makensis -DVERSION=1.0.0.5 -DDLL=path/gen_tralmo.dll -DICON=path/main.ico
;            -DOUTFILE=path/tralmo-1.0.0.5-setup.exe tralmo.nsi
;
; Command line: /S installs silently; /D=<player folder> (last, unquoted)
; names the player's folder instead of looking it up. The uninstaller takes /S.
;
; Exit codes: 0 installed or removed; 1 cancelled by the user; 2 failed;
; 3 refused because Winamp or WACUP is running; 4 no player folder (silent
; mode only).

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
!include WinMessages.nsh

!define PRODUCT "Tralmo"
!define PLUGIN_DLL "gen_tralmo.dll"
!define UNINSTALLER "uninstall_tralmo.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tralmo"
!define WINAMP_EXE "winamp.exe"
!define WACUP_EXE "wacup.exe"
; Winamp's main window, and WACUP's too, whatever its program is called.
!define PLAYER_WINDOW_CLASS "Winamp v1.x"
!define WINAMP_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
; The text control of the directory page.
!define DIRECTORY_PAGE_TEXT 1006

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

; The player a folder holds (namePlayerIn).
Var Player
; The directory page's text: at first, then for the folder chosen.
LangString ChooseFolder 0 "Choose the folder of Winamp or WACUP (the one that holds \
${WINAMP_EXE} or ${WACUP_EXE}); ${PRODUCT} goes into its Plugins folder."
LangString PlayerHere 0 "This is the folder of $Player: ${PRODUCT} goes into its Plugins \
folder. To install it for another player, choose that player's folder."
LangString NoPlayerHere 0 "This folder holds neither ${WINAMP_EXE} nor ${WACUP_EXE}. Choose \
the folder of Winamp or WACUP; ${PRODUCT} goes into its Plugins folder."
LangString RegistrationFailed 0 "Setup could not register the uninstaller. ${PLUGIN_DLL} is \
in $INSTDIR\Plugins; run setup again as an administrator."
LangString RemovalFailed 0 "$INSTDIR\${PLUGIN_DLL} could not be removed. Close every \
program that may use it and uninstall again."
DirText "$(ChooseFolder)" "Player folder"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 ${PRODUCT}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The player holds the plug-in loaded while it runs: neither replace nor
; remove it under its feet. Asks until the player is closed or the user gives up.
!macro DEFINE_REFUSE_WHILE_PLAYER_RUNS un
Function ${un}refuseWhilePlayerRuns
    ${Do}
        FindWindow $0 "${PLAYER_WINDOW_CLASS}"
        ${If} $0 = 0
            Return
        ${EndIf}
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
            "Winamp or WACUP is running. Please close it, then click Retry." \
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

; $0: a folder. Sets $Player to the player it holds: "Winamp", "WACUP",
; "Winamp and WACUP", or "" for none.
Function namePlayerIn
    StrCpy $Player ""
    ${If} $0 == ""
        Return
    ${EndIf}
    ${If} ${FileExists} "$0\${WINAMP_EXE}"
        StrCpy $Player "Winamp"
    ${EndIf}
    ${If} ${FileExists} "$0\${WACUP_EXE}"
    ${AndIf} $Player == ""
        StrCpy $Player "WACUP"
    ${ElseIf} ${FileExists} "$0\${WACUP_EXE}"
        StrCpy $Player "Winamp and WACUP"
    ${EndIf}
FunctionEnd

; $0: a folder. Makes it $INSTDIR when it holds a player.
Function takeFolderWithPlayer
    Call namePlayerIn
    ${If} $Player != ""
        StrCpy $INSTDIR $0
    ${EndIf}
FunctionEnd

; Sets $INSTDIR to the first of: the folder of Winamp's own uninstaller,
; Program Files\Winamp, Program Files\WACUP (the 32-bit programs folder),
; that holds a player.
Function findPlayerFolder
    ReadRegStr $0 HKLM "${WINAMP_UNINSTALL_KEY}" "UninstallString"
    ${If} $0 != ""
        Call programOfCommand
        ${GetParent} $0 $0
        Call takeFolderWithPlayer
    ${EndIf}
    ${If} $INSTDIR == ""
        StrCpy $0 "$PROGRAMFILES\Winamp"
        Call takeFolderWithPlayer
    ${EndIf}
    ${If} $INSTDIR == ""
        StrCpy $0 "$PROGRAMFILES\WACUP"
        Call takeFolderWithPlayer
    ${EndIf}
FunctionEnd

Function .onInit
    Call refuseWhilePlayerRuns
    ; /D= sets $INSTDIR before this runs.
    ${If} $INSTDIR == ""
        Call findPlayerFolder
    ${EndIf}
    StrCpy $0 $INSTDIR
    Call namePlayerIn
    ${If} $Player != ""
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

; Runs whenever the folder on the directory page changes: the page says which
; player the folder holds, and Install stays disabled while it holds none.
Function .onVerifyInstDir
    StrCpy $0 $INSTDIR
    Call namePlayerIn
    FindWindow $1 "#32770" "" $HWNDPARENT
    GetDlgItem $1 $1 ${DIRECTORY_PAGE_TEXT}
    ${If} $Player == ""
        SendMessage $1 ${WM_SETTEXT} 0 "STR:$(NoPlayerHere)"
        Abort
    ${EndIf}
    SendMessage $1 ${WM_SETTEXT} 0 "STR:$(PlayerHere)"
FunctionEnd

Section "${PRODUCT}"
    ; The player may have been started while the pages were shown.
    Call refuseWhilePlayerRuns
    StrCpy $0 $INSTDIR
    Call namePlayerIn
    DetailPrint "$Player found in $INSTDIR."
    SetOutPath "$INSTDIR\Plugins"
    File "/oname=${PLUGIN_DLL}" "${DLL}"
    ClearErrors
    WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} plug-in for $Player"
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
    DetailPrint "${PRODUCT} appears in the player's preferences under Plug-ins, General Purpose."
SectionEnd

Function un.onInit
    Call un.refuseWhilePlayerRuns
FunctionEnd

; Removes only what setup put there; the player's ini file keeps the settings.
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
