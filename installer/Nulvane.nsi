; The setup program of Nulvane, built by makensis through the build target
; nulvane_setup (tools/make-installer.sh builds it). The build defines:
;   PROGRAM    the built Nulvane.exe: its version resource gives the version
;   RC         resources/Nulvane.rc: the publisher and the product's name
;   VERSION_H  the generated NulvaneVersion.h: the copyright
;   ICON       the program's icon
;   OUTFILE    the setup program to write, named Nulvane-<version>-setup.exe
;
; Command line, beside NSIS's own /S (silent) and /D=<folder> (last, not
; quoted): /AllUsers or /CurrentUser chooses the kind of installation.
; Exit codes: 0 done; 1 cancelled; 2 Nulvane is running (nothing changed);
; 3 installing or removing for all users without administrator rights;
; 4 the unfinished session could not be wiped (nothing removed).
;
; The registration as a browser is the program's own business: the setup
; program runs "Nulvane.exe --register", and the uninstaller removes the
; keys that the program's registration writes, found by the program path
; they name, so that nothing of another installation is touched.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel highest

!include LogicLib.nsh
!include MUI2.nsh
!include nsDialogs.nsh
!include FileFunc.nsh

!getdllversion "${PROGRAM}" PROGRAM_VERSION_
!define VERSION "${PROGRAM_VERSION_1}.${PROGRAM_VERSION_2}.${PROGRAM_VERSION_3}.${PROGRAM_VERSION_4}"
!searchparse /file "${RC}" `VALUE "CompanyName", "` PUBLISHER `"`
!searchparse /file "${RC}" `VALUE "ProductName", "` PRODUCT `"`
!searchparse /file "${VERSION_H}" `#define NULVANE_COPYRIGHT_TEXT "` COPYRIGHT `"`
; The build names the file from the same numbers: a mismatch stops here.
!searchparse "${OUTFILE}" "${PRODUCT}-${VERSION}-setup.exe" OUTFILE_REST

!define EXE "${PRODUCT}.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define CLIENTS_KEY "Software\Clients\StartMenuInternet"
!define FEATURE_KEY "Software\Microsoft\Internet Explorer\Main\FeatureControl"
; The document type's name, before the logon name that follows it from
; Vista on, and the client's name, the same way.
!define DOC_TYPE "NulvaneHTML"
!define CLIENT "${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${COPYRIGHT}"
VIAddVersionKey FileDescription "${PRODUCT} setup"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

Var AllUsers      ; 1 for an installation per machine, 0 per user
Var IsAdmin
Var FolderGiven   ; /D= named the folder
Var FormerFolder  ; where the installation of the same kind is
Var ModeAll
Var User
Var OpenCommand

Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A named object exists when opening it succeeds or is refused for want of
; rights; nothing is asked of it, so no access is requested. Sets $R0 to 1.
!macro MUTEX_EXISTS NAME
  System::Call 'kernel32::OpenMutexW(i 0, i 0, w "${NAME}") p .r0 ?e'
  Pop $1
  ${If} $0 P<> 0
    System::Call 'kernel32::CloseHandle(p r0)'
    StrCpy $R0 1
  ${ElseIf} $1 = 5
    StrCpy $R0 1
  ${EndIf}
!macroend

; A browsing copy holds NULVANE_MUTEX; a clean-up (at the end of a session,
; or of an earlier one at a start) holds NULVANE_CLEANUP. Neither may lose
; its program file or its recovery file under it. Silent: exit code 2.
!macro WAIT_UNTIL_NULVANE_ENDS UN
Function ${UN}WaitUntilNulvaneEnds
  ${Do}
    StrCpy $R0 0
    !insertmacro MUTEX_EXISTS "NULVANE_MUTEX"
    !insertmacro MUTEX_EXISTS "NULVANE_CLEANUP"
    ${IfThen} $R0 = 0 ${|} Return ${|}
    SetErrorLevel 2
    IfSilent 0 +2
      Quit
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is running. Close all its windows, let it \
        finish clearing the session, then choose Retry." IDRETRY +2
      Quit
    SetErrorLevel 0
  ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_UNTIL_NULVANE_ENDS ""
!insertmacro WAIT_UNTIL_NULVANE_ENDS "un."

!macro READ_IS_ADMIN
  UserInfo::GetAccountType
  Pop $0
  StrCpy $IsAdmin 0
  ${IfThen} $0 == "Admin" ${|} StrCpy $IsAdmin 1 ${|}
!macroend

!macro REQUIRE_ADMIN_FOR_ALL_USERS
  ${If} $AllUsers = 1
  ${AndIf} $IsAdmin = 0
    MessageBox MB_OK|MB_ICONSTOP "Only an administrator can change ${PRODUCT} for all users." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
!macroend

Function .onInit
  Call WaitUntilNulvaneEnds
  StrCpy $FolderGiven 0
  ${IfThen} $INSTDIR != "" ${|} StrCpy $FolderGiven 1 ${|}
  ; The kind of an earlier installation stays (an upgrade in place);
  ; otherwise administrators install for all users.
  !insertmacro READ_IS_ADMIN
  StrCpy $AllUsers $IsAdmin
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" InstallLocation
  ${IfThen} $0 != "" ${|} StrCpy $AllUsers 0 ${|}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" InstallLocation
  ${IfThen} $0 != "" ${|} StrCpy $AllUsers 1 ${|}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/CurrentUser" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/AllUsers" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  !insertmacro REQUIRE_ADMIN_FOR_ALL_USERS
  Call ApplyMode
FunctionEnd

; The shell folders and registry root of the kind, and the folder: the
; installation of that kind when there is one, else the kind's default.
Function ApplyMode
  ${If} $AllUsers = 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  ReadRegStr $FormerFolder SHCTX "${UNINSTALL_KEY}" InstallLocation
  ${If} $FolderGiven = 1
    Return
  ${ElseIf} $FormerFolder != ""
    StrCpy $INSTDIR $FormerFolder
  ${ElseIf} $AllUsers = 1
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${Else}
    GetKnownFolderPath $INSTDIR {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB} ; the user's own programs
    ${IfThen} $INSTDIR == "" ${|} StrCpy $INSTDIR "$LOCALAPPDATA\Programs" ${|}
    StrCpy $INSTDIR "$INSTDIR\${PRODUCT}"
  ${EndIf}
FunctionEnd

; Only an administrator has the choice: others install for themselves.
Function ModePage
  ${IfThen} $IsAdmin = 0 ${|} Abort ${|}
  !insertmacro MUI_HEADER_TEXT "Installation for" "Who is to use ${PRODUCT} on this computer?"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 0 100% 12u "All users (in Program Files; changes need an administrator)"
  Pop $ModeAll
  ${NSD_CreateRadioButton} 0 18u 100% 12u "Only me (in my own programs folder)"
  Pop $0
  ${If} $AllUsers = 1
    ${NSD_Check} $ModeAll
  ${Else}
    ${NSD_Check} $0
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $ModeAll $AllUsers
  Call ApplyMode
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SetOutPath "$INSTDIR"
  ; An installation moved to another folder leaves nothing in the old one.
  ${If} $FormerFolder != ""
  ${AndIf} $FormerFolder != $INSTDIR
    Delete "$FormerFolder\${EXE}"
    Delete "$FormerFolder\${UNINSTALLER}"
    RMDir "$FormerFolder"
  ${EndIf}
  File "/oname=${EXE}" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayName "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  SectionGetSize ${SectionProgram} $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" EstimatedSize $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoRepair 1

  ; The machine-wide registration as a browser, written by the program's
  ; own code. Per user there are no rights for it: the program offers it
  ; later, through the elevation prompt.
  ${If} $AllUsers = 1
    DetailPrint "Registering ${PRODUCT} as a web browser"
    ExecWait '"$INSTDIR\${EXE}" --register'
  ${EndIf}
SectionEnd

; --- Uninstaller -------------------------------------------------------

Function un.onInit
  Call un.WaitUntilNulvaneEnds
  StrCpy $AllUsers 0
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" InstallLocation
  ${IfThen} $0 == $INSTDIR ${|} StrCpy $AllUsers 1 ${|}
  !insertmacro READ_IS_ADMIN
  !insertmacro REQUIRE_ADMIN_FOR_ALL_USERS
FunctionEnd

; A per-user choice (the system's own record of it, from Vista on) that
; still names the document type goes, so that the system's own default
; takes over again instead of a choice of a program that is gone.
!macro FORGET_CHOICE KEY
  ReadRegStr $2 HKCU "Software\Microsoft\Windows\${KEY}\UserChoice" Progid
  ${If} $2 == "${DOC_TYPE}.$User"
  ${OrIf} $2 == "${DOC_TYPE}"
    DeleteRegKey HKCU "Software\Microsoft\Windows\${KEY}\UserChoice"
  ${EndIf}
!macroend

; The user's associations, only while they still name the program: a choice
; made since for another browser stays.
!macro FORGET_PROTOCOL PROTOCOL
  ReadRegStr $2 HKCU "Software\Classes\${PROTOCOL}\shell\open\command" ""
  ${If} $2 == $OpenCommand
    DeleteRegValue HKCU "Software\Classes\${PROTOCOL}\shell\open\command" ""
    DeleteRegValue HKCU "Software\Classes\${PROTOCOL}\shell\open\ddeexec" ""
    DeleteRegKey /ifempty HKCU "Software\Classes\${PROTOCOL}\shell\open\command"
    DeleteRegKey /ifempty HKCU "Software\Classes\${PROTOCOL}\shell\open\ddeexec"
    DeleteRegKey /ifempty HKCU "Software\Classes\${PROTOCOL}\shell\open"
    DeleteRegKey /ifempty HKCU "Software\Classes\${PROTOCOL}\shell"
    DeleteRegKey /ifempty HKCU "Software\Classes\${PROTOCOL}"
  ${EndIf}
  !insertmacro FORGET_CHOICE "Shell\Associations\UrlAssociations\${PROTOCOL}"
!macroend

!macro FORGET_EXTENSION EXTENSION
  ReadRegStr $2 HKCU "Software\Classes\${EXTENSION}" ""
  ${If} $2 == "${DOC_TYPE}.$User"
  ${OrIf} $2 == "${DOC_TYPE}"
    DeleteRegValue HKCU "Software\Classes\${EXTENSION}" ""
    DeleteRegKey /ifempty HKCU "Software\Classes\${EXTENSION}"
  ${EndIf}
  !insertmacro FORGET_CHOICE "CurrentVersion\Explorer\FileExts\${EXTENSION}"
!macroend

!macro FORGET_FEATURE FEATURE
  DeleteRegValue HKCU "${FEATURE_KEY}\${FEATURE}" "${EXE}"
  DeleteRegKey /ifempty HKCU "${FEATURE_KEY}\${FEATURE}"
!macroend

Section Uninstall
  SetShellVarContext current
  ; A session cut short (a crash, a power cut) is wiped first, by the
  ; program itself, and the user's cookies it set aside come back: once the
  ; program is gone, no next start would ever do it.
  ${If} ${FileExists} "$APPDATA\${PRODUCT}\recovery.lck"
    DetailPrint "Removing what the last, unfinished ${PRODUCT} session left"
    ExecWait '"$INSTDIR\${EXE}" --silentcleanup'
    ; The file goes only with a finished wipe. Without the program, what it
    ; records (the user's own cookies among it) could never be put back.
    ${If} ${FileExists} "$APPDATA\${PRODUCT}\recovery.lck"
      MessageBox MB_OK|MB_ICONSTOP "The last ${PRODUCT} session could not be cleared, so ${PRODUCT} \
          stays installed. Start ${PRODUCT} once and close it, then remove it again." /SD IDOK
      SetErrorLevel 4
      Quit
    ${EndIf}
  ${EndIf}

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The settings file goes where the program was started from: the Start
  ; menu's shortcut starts it in its own folder.
  Delete "$INSTDIR\${PRODUCT}.config"
  RMDir "$INSTDIR"

  ; The registrations of every user that name this program file.
  StrCpy $OpenCommand '"$INSTDIR\${EXE}" "%1"'
  StrCpy $3 0
  ${Do}
    EnumRegKey $4 HKLM "${CLIENTS_KEY}" $3
    ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
    ReadRegStr $2 HKLM "${CLIENTS_KEY}\$4\shell\open\command" ""
    ${If} $2 == '"$INSTDIR\${EXE}"'
    ${OrIf} $2 == "$INSTDIR\${EXE}"
      StrLen $5 "${CLIENT}."
      StrCpy $5 $4 "" $5
      ReadRegStr $2 HKLM "Software\Classes\${DOC_TYPE}.$5\shell\open\command" ""
      ${IfThen} $2 == $OpenCommand ${|} DeleteRegKey HKLM "Software\Classes\${DOC_TYPE}.$5" ${|}
      DeleteRegValue HKLM "Software\RegisteredApplications" $4
      DeleteRegKey HKLM "${CLIENTS_KEY}\$4"
    ${Else}
      IntOp $3 $3 + 1
    ${EndIf}
  ${Loop}
  DeleteRegKey /ifempty HKLM "${CLIENTS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\RegisteredApplications"

  ; The current user's side of it.
  System::Call 'advapi32::GetUserNameW(w .r0, *i ${NSIS_MAX_STRLEN})'
  StrCpy $User $0
  ReadRegStr $2 HKCU "Software\Classes\${DOC_TYPE}\shell\open\command" ""
  ${IfThen} $2 == $OpenCommand ${|} DeleteRegKey HKCU "Software\Classes\${DOC_TYPE}" ${|}
  !insertmacro FORGET_PROTOCOL http
  !insertmacro FORGET_PROTOCOL https
  !insertmacro FORGET_EXTENSION .htm
  !insertmacro FORGET_EXTENSION .html
  !insertmacro FORGET_EXTENSION .shtml
  !insertmacro FORGET_EXTENSION .xht
  !insertmacro FORGET_EXTENSION .xhtml
  ReadRegStr $2 HKCU "${CLIENTS_KEY}" ""
  ${If} $2 == "${CLIENT}.$User"
    DeleteRegValue HKCU "${CLIENTS_KEY}" ""
    DeleteRegKey /ifempty HKCU "${CLIENTS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Clients"
  ${EndIf}
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)' ; SHCNE_ASSOCCHANGED

  ; The shortcuts the program made, its process settings, its own settings
  ; and its data folder (the recovery file's; no browsing store is in it).
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$APPDATA\Microsoft\Internet Explorer\Quick Launch\${PRODUCT}.lnk"
  RMDir "$APPDATA\Microsoft\Internet Explorer\Quick Launch"
  RMDir "$APPDATA\Microsoft\Internet Explorer"
  !insertmacro FORGET_FEATURE FEATURE_DOMSTORAGE
  !insertmacro FORGET_FEATURE FEATURE_BROWSER_EMULATION
  !insertmacro FORGET_FEATURE FEATURE_LOCALMACHINE_LOCKDOWN
  DeleteRegKey HKCU "Software\${PRODUCT}"
  RMDir /r "$APPDATA\${PRODUCT}"

  ${If} $AllUsers = 1
    SetShellVarContext all
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
