; The Windows installer of one side of an installation, client or server: the
; program, its OpenVPN configuration and keys, remind.bat (and stop.exe on the
; client), a Start-menu shortcut that starts the program in its install folder,
; the side's inbound rules in Windows' firewall, and an uninstaller listed among
; the installed programs that removes all of it. The server's installer offers to
; start the server when Windows starts (unticked; silent: /S /UNATTENDED /NAME=NAME
; /PASSWORDFILE=PATH, the password on the file's first line).
; makensis -DSIDE=client|server -DKIT=DIR -DVERSION=V -DOUTFILE=FILE [-DSIGN=COMMAND] punchvpn.nsi
; KIT holds the side's files as openvpn/make-kits stages them.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh
!include TextFunc.nsh
!include WordFunc.nsh

!if "${SIDE}" == "client"
  !define EXE client.exe
!else if "${SIDE}" == "server"
  !define EXE server.exe
!else
  !error "SIDE must be client or server"
!endif
!define PRODUCT "punchvpn ${SIDE}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\punchvpn-${SIDE}"
; The programs look for this file, or for the folder that OpenVPN's own installer
; recorded in the registry (64-bit view), before they start OpenVPN.
!define OPENVPN_PROBE "c:\program files\openvpn\license.txt"
!define OPENVPN_KEY "SOFTWARE\OpenVPN"

; Inbound rules of Windows' firewall, each as narrow as the tunnel allows. Replies
; to what a socket sent get in without a rule, but only on that socket's own flows,
; and the flows of the punch socket end when it closes.
!if "${SIDE}" == "server"
  ; OpenVPN in server mode only listens on the port the punch held: the client's (or
  ; central's relay) first datagrams reach a socket that never sent. By port, not by
  ; program: with OpenVPN's data-channel-offload driver the socket lives in the kernel.
  !define RULE_OPENVPN "punchvpn server OpenVPN"
  !define RULE_OPENVPN_ARGS "protocol=UDP localport=1194"
  ; The client's liveness datagrams arrive before the server has sent its first.
  !define RULE_PROBES "punchvpn server probes"
  !define RULE_PROBES_ARGS 'protocol=UDP localport=8080 localip=10.8.0.1 remoteip=10.8.0.2 program="$INSTDIR\${EXE}"'
  ; The client opens the server's shared folders (\\10.8.0.1); the tunnel adapter is
  ; an unidentified network with the Public profile, where file sharing is shut.
  ; Only from the client's tunnel address to the server's.
  !define RULE_SHARES "punchvpn server file sharing"
  !define RULE_SHARES_ARGS "protocol=TCP localport=445 localip=10.8.0.1 remoteip=10.8.0.2"
!else
  ; The server's liveness datagrams arrive before the client has sent its first.
  ; The client's OpenVPN sends first, so its replies need no rule.
  !define RULE_PROBES "punchvpn client probes"
  !define RULE_PROBES_ARGS 'protocol=UDP localport=8080 localip=10.8.0.2 remoteip=10.8.0.1 program="$INSTDIR\${EXE}"'
!endif
!define NETSH '"$SYSDIR\netsh.exe" advfirewall firewall'

; -DSIGN=COMMAND (openvpn/sign, when make-kits signs): the installer is signed once
; made, and the uninstaller before it goes into the installer, so that the
; uninstall.exe written on the user's machine carries its signature too.
!ifdef SIGN
  !finalize '"${SIGN}" "%1" "${PRODUCT} setup"' = 0
  !uninstfinalize '"${SIGN}" "%1" "${PRODUCT} uninstall"' = 0
!endif

!if "${SIDE}" == "server"
  ; The start when Windows starts: Task Scheduler's task, which runs "server.exe
  ; /auto" as SYSTEM, and the server's data folder in %ProgramData% (with the shell
  ; folders of all users, $APPDATA is that folder), which server.exe /seal makes
  ; open to SYSTEM and the Administrators only: the sealed name and password, the
  ; unattended server's log and the task's definition as registered. The names are
  ; those of server/sealed.h, server/unattended.h and server/single.h.
  !define TASK "${PRODUCT}"
  !define DATA_FOLDER "$APPDATA\${PRODUCT}"
  !define SERVER_MUTEX "Global\punchvpn-server"
  !define STOP_EVENT "Global\punchvpn-server-stop"
  !define LONGEST 18 ; characters of a name or password, as in the server's dialog
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; Installed again, it goes where it was installed before.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation
ShowInstDetails show
ShowUninstDetails show

Var FirewallFailures

Page directory
!if "${SIDE}" == "server"
  Var Unattended ; 1: start the server when Windows starts
  Var UnattendedName
  Var UnattendedPassword
  Var UnattendedBox
  Var NameField
  Var PasswordField
  Page custom UnattendedPage UnattendedPageLeave ": Start with Windows"
!endif
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ReadRegStr $0 HKLM "${OPENVPN_KEY}" exe_path
  ${IfNot} ${FileExists} "${OPENVPN_PROBE}"
  ${AndIfNot} ${FileExists} "$0"
    MessageBox MB_OK|MB_ICONEXCLAMATION "OpenVPN is not installed on this computer.$\n$\n\
${PRODUCT} starts OpenVPN and finds it where OpenVPN's own installer puts it \
(by default in C:\Program Files\OpenVPN). \
Install OpenVPN for Windows 2.6 from https://openvpn.net/community-downloads/ \
before you start ${PRODUCT}.$\n$\n\
The installation of ${PRODUCT} goes on now." /SD IDOK
  ${EndIf}
  !if "${SIDE}" == "server"
    Call ReadUnattendedOptions
  !endif
FunctionEnd

!macro RemoveFirewallRule NAME
  nsExec::Exec '${NETSH} delete rule name="${NAME}"'
  Pop $0
!macroend

; Replaces the firewall rule NAME (deleted first, so that installing again makes no
; second one) and notes it in FirewallFailures when netsh does not add it. The exit
; code tells; netsh's output is in the user's language.
!macro FirewallRule NAME ARGS
  !insertmacro RemoveFirewallRule "${NAME}"
  nsExec::Exec '${NETSH} add rule name="${NAME}" dir=in action=allow ${ARGS}'
  Pop $0
  ${If} $0 == "0"
    DetailPrint "Firewall rule added: ${NAME}"
  ${Else}
    DetailPrint "Firewall rule NOT added (netsh: $0): ${NAME}"
    StrCpy $FirewallFailures "$FirewallFailures$\n    ${NAME} (netsh: $0)"
  ${EndIf}
!macroend

Function AddFirewallRules
  StrCpy $FirewallFailures ""
  !ifdef RULE_OPENVPN
    !insertmacro FirewallRule "${RULE_OPENVPN}" `${RULE_OPENVPN_ARGS}`
    !insertmacro FirewallRule "${RULE_SHARES}" `${RULE_SHARES_ARGS}`
  !endif
  !insertmacro FirewallRule "${RULE_PROBES}" `${RULE_PROBES_ARGS}`
  ${If} $FirewallFailures != ""
    !ifdef RULE_OPENVPN
      !define RULE_LINES `netsh advfirewall firewall add rule name="${RULE_OPENVPN}" dir=in action=allow ${RULE_OPENVPN_ARGS}$\n$\n\
netsh advfirewall firewall add rule name="${RULE_SHARES}" dir=in action=allow ${RULE_SHARES_ARGS}$\n$\n\
netsh advfirewall firewall add rule name="${RULE_PROBES}" dir=in action=allow ${RULE_PROBES_ARGS}`
    !else
      !define RULE_LINES `netsh advfirewall firewall add rule name="${RULE_PROBES}" dir=in action=allow ${RULE_PROBES_ARGS}`
    !endif
    MessageBox MB_OK|MB_ICONEXCLAMATION `Windows' firewall did not take these rules:$FirewallFailures$\n$\n\
Without them the tunnel may not come up. The installation of ${PRODUCT} goes on now. \
Install again later, or add the rules in a Command Prompt run as administrator, \
each with its line below (Ctrl+C copies this message):$\n$\n${RULE_LINES}` /SD IDOK
  ${EndIf}
FunctionEnd

!if "${SIDE}" == "server"
; Sets the running server's stop event: it ends as on Cancel (OpenVPN ended, exit
; code 0, so that Task Scheduler does not start it again), and its mutex is free once
; it has ended. Its program file, and the folder it ran in, are free a moment later,
; when its process has gone: then the file opens for writing.
!macro StopRunningServer
  System::Call 'kernel32::OpenEventW(i 0x0002, i 0, w "${STOP_EVENT}") p .r0'
  ${If} $0 != 0
    DetailPrint "Stopping the running server"
    System::Call 'kernel32::SetEvent(p r0)'
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${SERVER_MUTEX}") p .r1'
  ${If} $1 != 0
    System::Call 'kernel32::WaitForSingleObject(p r1, i 30000) i .r2'
    ${If} $2 == 0
    ${OrIf} $2 == 128
      System::Call 'kernel32::ReleaseMutex(p r1)'
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r1)'
    StrCpy $3 0
    ${DoWhile} ${FileExists} "$INSTDIR\${EXE}"
      ClearErrors
      FileOpen $4 "$INSTDIR\${EXE}" a
      ${IfNot} ${Errors}
        FileClose $4
        ${Break}
      ${EndIf}
      IntOp $3 $3 + 1
      ${IfThen} $3 > 50 ${|} ${Break} ${|}
      Sleep 200
    ${Loop}
  ${EndIf}
!macroend

; No task, and nothing left of the data folder.
!macro RemoveUnattendedStart
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK}" /F'
  Pop $0
  Delete "${DATA_FOLDER}\credentials.sealed"
  Delete "${DATA_FOLDER}\credentials.sealed.new"
  Delete "${DATA_FOLDER}\task.xml"
  Delete "${DATA_FOLDER}\unattended.log"
  Delete "${DATA_FOLDER}\unattended.log.old"
  RMDir "${DATA_FOLDER}"
!macroend

Function RemoveUnattendedStart
  !insertmacro RemoveUnattendedStart
FunctionEnd

; An empty text in $R9 when name and password will do, else what is wrong.
Function CheckNameAndPassword
  StrCpy $R9 ""
  StrLen $R7 $UnattendedName
  StrLen $R8 $UnattendedPassword
  ${If} $R7 == 0
  ${OrIf} $R8 == 0
  ${OrIf} $R7 > ${LONGEST}
  ${OrIf} $R8 > ${LONGEST}
    StrCpy $R9 "The server that starts with Windows needs a name and a password of 1 to ${LONGEST} \
characters each, the same as the client's."
  ${EndIf}
FunctionEnd

; /UNATTENDED /NAME=NAME /PASSWORDFILE=PATH (the password on the file's first line, so
; that it is on no command line). Silent and incomplete: nothing is installed, exit
; code 2.
Function ReadUnattendedOptions
  ${GetParameters} $R0
  ; A shell that quotes a whole argument with a blank in it ("/NAME=my office", as
  ; PowerShell passes it) hides the option from GetOptions, which reads
  ; /NAME="my office".
  ${WordReplace} $R0 '"/NAME=' '/NAME="' "+" $R0
  ${WordReplace} $R0 '"/PASSWORDFILE=' '/PASSWORDFILE="' "+" $R0
  ClearErrors
  ${GetOptions} $R0 "/UNATTENDED" $R1
  ${IfNot} ${Errors}
    StrCpy $Unattended 1
  ${EndIf}
  ${GetOptions} $R0 "/NAME=" $UnattendedName
  ClearErrors
  ${GetOptions} $R0 "/PASSWORDFILE=" $R2
  ${IfNot} ${Errors}
    FileOpen $R3 $R2 r
    ${IfNot} ${Errors}
      FileRead $R3 $UnattendedPassword
      FileClose $R3
      ${TrimNewLines} $UnattendedPassword $UnattendedPassword
    ${EndIf}
  ${EndIf}
  ${If} $Unattended == 1
  ${AndIf} ${Silent}
    Call CheckNameAndPassword
    ${If} $R9 != ""
      MessageBox MB_OK|MB_ICONSTOP "$R9$\n$\nGive /NAME=NAME and /PASSWORDFILE=PATH with /UNATTENDED. \
Nothing was installed." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function UnattendedPage
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateCheckbox} 0 0 100% 12u "Start the server when Windows starts"
  Pop $UnattendedBox
  ${NSD_OnClick} $UnattendedBox UnattendedBoxClicked
  ${NSD_CreateLabel} 12u 16u -12u 40u "The server then starts by itself whenever Windows starts, \
before anyone logs on, and connects with this name and password, as when you press Connect. \
They are kept sealed for this computer, where only administrators can read them."
  Pop $0
  ${NSD_CreateLabel} 12u 62u 50u 10u "Name"
  Pop $0
  ${NSD_CreateText} 64u 60u 100u 12u "$UnattendedName"
  Pop $NameField
  ${NSD_CreateLabel} 12u 80u 50u 10u "Password"
  Pop $0
  ${NSD_CreatePassword} 64u 78u 100u 12u "$UnattendedPassword"
  Pop $PasswordField
  ${NSD_SetTextLimit} $NameField ${LONGEST}
  ${NSD_SetTextLimit} $PasswordField ${LONGEST}
  ${If} $Unattended == 1
    ${NSD_Check} $UnattendedBox
  ${EndIf}
  Call EnableNameAndPassword
  nsDialogs::Show
FunctionEnd

Function UnattendedBoxClicked
  Pop $0
  Call EnableNameAndPassword
FunctionEnd

Function EnableNameAndPassword
  ${NSD_GetState} $UnattendedBox $0
  EnableWindow $NameField $0
  EnableWindow $PasswordField $0
FunctionEnd

Function UnattendedPageLeave
  ${NSD_GetState} $UnattendedBox $Unattended
  ${NSD_GetText} $NameField $UnattendedName
  ${NSD_GetText} $PasswordField $UnattendedPassword
  ${If} $Unattended == 1
    Call CheckNameAndPassword
    ${If} $R9 != ""
      MessageBox MB_OK|MB_ICONEXCLAMATION "$R9$\n$\nOr untick $\"Start the server when Windows starts$\"."
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

; The task's definition, UTF-16LE with a byte-order mark as schtasks /XML wants it.
; At boot as SYSTEM with the highest privileges, after a short delay; no time limit
; (the default stops a task after 72 hours); restarted when it fails; not stopped on
; battery; one at a time; in the install folder, where the server finds its
; configuration and writes its files; at normal priority (a task's default is below
; normal). An install folder may hold "&", which XML writes "&amp;".
Function WriteTaskXml
  ${WordReplace} "$INSTDIR" "&" "&amp;" "+" $R0
  FileOpen $0 "${DATA_FOLDER}\task.xml" w
  FileWriteUTF16LE /BOM $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '    <Description>Starts ${PRODUCT} when Windows starts, before anyone logs on.</Description>$\r$\n'
  FileWriteUTF16LE $0 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $0 '    <BootTrigger>$\r$\n'
  FileWriteUTF16LE $0 '      <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '      <Delay>PT30S</Delay>$\r$\n'
  FileWriteUTF16LE $0 '    </BootTrigger>$\r$\n'
  FileWriteUTF16LE $0 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $0 '  <Principals>$\r$\n'
  FileWriteUTF16LE $0 '    <Principal id="Author">$\r$\n'
  FileWriteUTF16LE $0 '      <UserId>S-1-5-18</UserId>$\r$\n'
  FileWriteUTF16LE $0 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $0 '    </Principal>$\r$\n'
  FileWriteUTF16LE $0 '  </Principals>$\r$\n'
  FileWriteUTF16LE $0 '  <Settings>$\r$\n'
  FileWriteUTF16LE $0 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $0 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $0 '    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $0 '    <RestartOnFailure>$\r$\n'
  FileWriteUTF16LE $0 '      <Interval>PT1M</Interval>$\r$\n'
  FileWriteUTF16LE $0 '      <Count>3</Count>$\r$\n'
  FileWriteUTF16LE $0 '    </RestartOnFailure>$\r$\n'
  FileWriteUTF16LE $0 '    <Priority>5</Priority>$\r$\n'
  FileWriteUTF16LE $0 '  </Settings>$\r$\n'
  FileWriteUTF16LE $0 '  <Actions Context="Author">$\r$\n'
  FileWriteUTF16LE $0 '    <Exec>$\r$\n'
  FileWriteUTF16LE $0 '      <Command>"$R0\${EXE}"</Command>$\r$\n'
  FileWriteUTF16LE $0 '      <Arguments>/auto</Arguments>$\r$\n'
  FileWriteUTF16LE $0 '      <WorkingDirectory>$R0</WorkingDirectory>$\r$\n'
  FileWriteUTF16LE $0 '    </Exec>$\r$\n'
  FileWriteUTF16LE $0 '  </Actions>$\r$\n'
  FileWriteUTF16LE $0 '</Task>$\r$\n'
  FileClose $0
FunctionEnd

; Has server.exe seal the name and password (read from a file in the installer's own
; temporary folder, which is gone with the installer; the file goes at once), then
; registers the task. Where either fails, the installer says so, leaves no half of
; it, and ends with exit code 2.
Function SetUpUnattendedStart
  InitPluginsDir
  FileOpen $0 "$PLUGINSDIR\unattended" w
  FileWrite $0 "$UnattendedName$\r$\n$UnattendedPassword$\r$\n"
  FileClose $0
  nsExec::Exec '"$INSTDIR\${EXE}" /seal "$PLUGINSDIR\unattended"'
  Pop $1
  Delete "$PLUGINSDIR\unattended"
  ${If} $1 == 0
    Call WriteTaskXml
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Create /TN "${TASK}" /XML "${DATA_FOLDER}\task.xml" /F'
    Pop $1
    StrCpy $1 "schtasks: $1"
  ${Else}
    StrCpy $1 "${EXE} /seal: $1"
  ${EndIf}
  ${If} $1 == "schtasks: 0"
    DetailPrint "The server starts when Windows starts (task $\"${TASK}$\")"
    Return
  ${EndIf}
  Call RemoveUnattendedStart
  MessageBox MB_OK|MB_ICONSTOP "The server could not be set to start when Windows starts ($1). \
Start it from the Start menu, or install again as administrator." /SD IDOK
  SetErrorLevel 2
FunctionEnd
!endif

Section
  !if "${SIDE}" == "server"
    ; A running server holds its program file, and its start when Windows starts
    ; changes now.
    !insertmacro StopRunningServer
  !endif
  SetOutPath "$INSTDIR"
  File "${KIT}\${EXE}"
  !if "${SIDE}" == "client"
    File "${KIT}\stop.exe"
  !endif
  File "${KIT}\${SIDE}.ovpn"
  File "${KIT}\remind.bat"
  File "${KIT}\ca.crt"
  File "${KIT}\${SIDE}.crt"
  File "${KIT}\${SIDE}.key"
  File "${KIT}\tls-crypt.key"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  Call AddFirewallRules
  !if "${SIDE}" == "server"
    ${If} $Unattended == 1
      Call SetUpUnattendedStart
    ${Else}
      Call RemoveUnattendedStart
    ${EndIf}
  !endif
  ; SetOutPath above makes the install folder the shortcut's working directory.
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "punchvpn"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
SectionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

; Removes what the installer put there and what the program wrote into its folder;
; the hosts file in Windows' own folder keeps the program's entry for Server.
Section Uninstall
  !if "${SIDE}" == "server"
    !insertmacro StopRunningServer
    !insertmacro RemoveUnattendedStart
  !endif
  ; A running program keeps its file: stop here rather than leave half an installation.
  Delete "$INSTDIR\${EXE}"
  ${If} ${FileExists} "$INSTDIR\${EXE}"
    MessageBox MB_OK|MB_ICONSTOP "${EXE} is running. Close it, then uninstall ${PRODUCT} again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  !ifdef RULE_OPENVPN
    !insertmacro RemoveFirewallRule "${RULE_OPENVPN}"
    !insertmacro RemoveFirewallRule "${RULE_SHARES}"
  !endif
  !insertmacro RemoveFirewallRule "${RULE_PROBES}"
  !if "${SIDE}" == "client"
    Delete "$INSTDIR\stop.exe"
  !endif
  Delete "$INSTDIR\${SIDE}.ovpn"
  Delete "$INSTDIR\remind.bat"
  Delete "$INSTDIR\ca.crt"
  Delete "$INSTDIR\${SIDE}.crt"
  Delete "$INSTDIR\${SIDE}.key"
  Delete "$INSTDIR\tls-crypt.key"
  ; What the program writes into its working directory while it runs.
  Delete "$INSTDIR\op.bat"
  Delete "$INSTDIR\unamepass"
  Delete "$INSTDIR\hosts"
  Delete "$INSTDIR\log"
  Delete "$INSTDIR\openvpn.log"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
