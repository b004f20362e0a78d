; The Windows installer of one side of an installation, client or server: the
; program, its OpenVPN configuration and keys, remind.bat (and stop.exe on the
; client), a Start-menu shortcut that starts the program in its install folder,
; the side's inbound rules in Windows' firewall, and an uninstaller listed among
; the installed programs that removes all of it. The install folder gets Program
; Files' rights, the keys rights for the administrators only. The server's installer
; offers to start the server when Windows starts (unticked; silent: /S /UNATTENDED
; /NAME=NAME /PASSWORDFILE=PATH, the password on the file's first line).
; makensis -DSIDE=client|server -DKIT=DIR -DVERSION=V -DOUTFILE=FILE [-DSIGN=COMMAND] punchvpn.nsi
; KIT holds the side's files as openvpn/make-kits stages them.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh
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

; Program Files' rights for the install folder, whatever folder is chosen: owned by
; the Administrators; SYSTEM and the Administrators may do anything in it, the Users
; read and run; nothing inherited from the folder above. Both programs run elevated
; (the server also as SYSTEM when Windows starts) and start ping, tskill, openvpn and
; op.bat by bare names, which Windows looks for in this folder first. Well-known SIDs,
; so that it holds in every language of Windows.
!define FOLDER_SECURITY "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; Files that hold a secret (the keys, the name and password on their way to
; server.exe /seal): SYSTEM and the Administrators only, whom both programs run as.
!define SECRET_SECURITY "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)"
; What others than SYSTEM, the Administrators and the installing administrator may
; do in the install folder, and no more: read, list and run (FILE_GENERIC_READ and
; FILE_GENERIC_EXECUTE, and GENERIC_READ and GENERIC_EXECUTE in inheritable entries).
!define READ_AND_RUN 0xA01200A9

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
  ; open to SYSTEM and the Administrators only (a folder there that another user made
  ; it moves aside): the sealed name and password, the unattended server's log and
  ; the task's definition as registered. The names are those of server/sealed.h and
  ; server/unattended.h.
  !define TASK "${PRODUCT}"
  !define DATA_FOLDER "$APPDATA\${PRODUCT}"
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
  Var PasswordFile ; /PASSWORDFILE=, as a full path
  Var SealResult   ; server.exe /seal's exit code, or what kept it from running
  Var EarlierTask  ; 1: an earlier installation set the server to start with Windows
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

Var Administrator ; the installing administrator's own SID, as text
Var MadeFolder    ; 1: this installation made the install folder

; LogicLib tests: ${TrustedSid} SID_TEXT (SYSTEM, the Administrators or the installing
; administrator) and ${OwnFile} NAME (a file that an installation of this side puts
; into its folder, or that its program writes there). Names and SIDs compare without
; regard to case, as Windows compares them.
!macro _TrustedSid _a _b _t _f
  StrCmp `${_b}` "S-1-5-18" `${_t}`
  StrCmp `${_b}` "S-1-5-32-544" `${_t}`
  StrCmp `${_b}` $Administrator `${_t}` `${_f}`
!macroend
!define TrustedSid `"" TrustedSid`
!macro _OwnFile _a _b _t _f
  !if "${SIDE}" == "client"
    StrCmp `${_b}` "stop.exe" `${_t}`
  !endif
  StrCmp `${_b}` "${EXE}" `${_t}`
  StrCmp `${_b}` "${SIDE}.ovpn" `${_t}`
  StrCmp `${_b}` "remind.bat" `${_t}`
  StrCmp `${_b}` "ca.crt" `${_t}`
  StrCmp `${_b}` "${SIDE}.crt" `${_t}`
  StrCmp `${_b}` "${SIDE}.key" `${_t}`
  StrCmp `${_b}` "tls-crypt.key" `${_t}`
  StrCmp `${_b}` "uninstall.exe" `${_t}`
  ; What the program writes into its working directory while it runs.
  StrCmp `${_b}` "op.bat" `${_t}`
  StrCmp `${_b}` "unamepass" `${_t}`
  StrCmp `${_b}` "hosts" `${_t}`
  StrCmp `${_b}` "log" `${_t}`
  StrCmp `${_b}` "openvpn.log" `${_t}` `${_f}`
!macroend
!define OwnFile `"" OwnFile`

; $0 := the text form ("S-1-5-18") of the SID at address $0, "?" if it has none.
; Uses $1 and $2.
Function SidText
  System::Call 'advapi32::ConvertSidToStringSidW(p r0, *p .r1) i .r2'
  ${If} $2 == 0
    StrCpy $0 "?"
    Return
  ${EndIf}
  System::Call 'kernel32::lstrcpynW(w .r0, p r1, i ${NSIS_MAX_STRLEN})'
  System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd

; $Administrator := the SID of the user this installer runs as.
Function ReadAdministrator
  StrCpy $Administrator ""
  System::Call 'kernel32::GetCurrentProcess() p .r3'
  System::Call 'advapi32::OpenProcessToken(p r3, i 8, *p .r3) i .r2' ; TOKEN_QUERY
  ${If} $2 == 0
    Return
  ${EndIf}
  System::Alloc 512
  Pop $4
  System::Call 'advapi32::GetTokenInformation(p r3, i 1, p r4, i 512, *i .r5) i .r2' ; TokenUser
  ${If} $2 != 0
    System::Call '*$4(p .r0)'
    Call SidText
    StrCpy $Administrator $0
  ${EndIf}
  System::Free $4
  System::Call 'kernel32::CloseHandle(p r3)'
FunctionEnd

; $0 := the SID text of the owner of file or folder $R0, "" when it cannot be read.
; Uses $1 to $3.
Function OwnerOf
  System::Call 'advapi32::GetNamedSecurityInfoW(w R0, i 1, i 1, *p .r0, p 0, p 0, p 0, *p .r3) i .r2'
  ${If} $2 != 0
    StrCpy $0 ""
    Return
  ${EndIf}
  Call SidText
  System::Call 'kernel32::LocalFree(p r3)'
FunctionEnd

; $R9 := what lets others than SYSTEM and the Administrators change folder $R0, as
; read back from Windows, or "" when nothing does. Its owner must be SYSTEM, the
; Administrators or the installing administrator, since an owner may always change
; the rights; no entry may let anybody else do more than read, list and run, in the
; folder or in what is made in it. Denying entries only take rights away. (Wine keeps
; no owner but the Unix user's, the installing administrator, and no protection
; flag; it shows the Users' entry as Everyone's.) Uses $0 to $4 and $R2 to $R8.
Function CheckFolderRights
  StrCpy $R9 ""
  Call OwnerOf
  ${IfNot} ${TrustedSid} $0
    StrCpy $R9 "its owner is $0, not the Administrators"
    Return
  ${EndIf}
  System::Call 'advapi32::GetNamedSecurityInfoW(w R0, i 1, i 4, p 0, p 0, *p .R2, p 0, *p .R3) i .R4'
  ${If} $R4 != 0
    StrCpy $R9 "its rights cannot be read (error $R4)"
    Return
  ${EndIf}
  ${If} $R2 == 0
    StrCpy $R9 "it has no access list, which lets everybody in"
  ${Else}
    System::Call '*$R2(i, i .R5)' ; the ACL header: its entries' count
    IntOp $R5 $R5 & 0xFFFF
    IntOp $R8 ${READ_AND_RUN} ~
    StrCpy $R6 0
    ${DoWhile} $R6 < $R5
      System::Call 'advapi32::GetAce(p R2, i R6, *p .R7) i .r2'
      IntOp $R6 $R6 + 1
      ${If} $2 == 0
        StrCpy $R9 "its access list cannot be read"
        ${Break}
      ${EndIf}
      System::Call '*$R7(i .r3, i .r4)' ; the entry's kind (low byte), its rights
      IntOp $3 $3 & 0xFF
      ${If} $3 == 1 ; ACCESS_DENIED_ACE_TYPE
        ${Continue}
      ${EndIf}
      IntPtrOp $0 $R7 + 8 ; the SID behind kind, flags, size and rights
      Call SidText
      ${If} $3 != 0 ; not ACCESS_ALLOWED_ACE_TYPE either
        StrCpy $R9 "an access entry of kind $3 for $0"
        ${Break}
      ${EndIf}
      IntOp $4 $4 & $R8
      ${If} $4 != 0
      ${AndIfNot} ${TrustedSid} $0
        StrCpy $R9 "it lets $0 change it"
        ${Break}
      ${EndIf}
    ${Loop}
  ${EndIf}
  System::Call 'kernel32::LocalFree(p R3)'
FunctionEnd

; $1 := the security descriptor of SDDL text $0 (LocalFree it), 0 if it is none.
; Uses $2.
Function SecurityFromText
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r0, i 1, *p .r1, p 0) i .r2'
  ${If} $2 == 0
    StrCpy $1 0
  ${EndIf}
FunctionEnd

; Makes the empty file $R0 with SYSTEM's and the Administrators' rights only, in the
; same call (CreateFileW, CREATE_NEW), so that nobody else ever opens it; the content
; goes in afterwards (File and FileOpen keep the rights of a file they overwrite).
; A file already there is deleted first, never reused. $2 := 1 when made. Uses $0,
; $1 and $3.
Function MakeSecretFile
  Delete $R0
  StrCpy $0 "${SECRET_SECURITY}"
  Call SecurityFromText
  StrCpy $2 0
  ${If} $1 != 0
    ; SECURITY_ATTRIBUTES: its length (and padding), the descriptor, not inherited.
    System::Call '*(i 24, i 0, p r1, i 0, i 0) p .r3'
    ; GENERIC_WRITE, not shared, CREATE_NEW, FILE_ATTRIBUTE_NORMAL
    System::Call 'kernel32::CreateFileW(w R0, i 0x40000000, i 0, p r3, i 1, i 0x80, p 0) p .r0'
    ${If} $0 != -1
      System::Call 'kernel32::CloseHandle(p r0)'
      StrCpy $2 1
    ${EndIf}
    System::Free $3
    System::Call 'kernel32::LocalFree(p r1)'
  ${EndIf}
FunctionEnd

; A key of the kit, installed with SYSTEM's and the Administrators' rights only: with
; the keys and the name any other user could connect to the server from anywhere.
!macro SecretFile NAME
  StrCpy $R0 "$INSTDIR\${NAME}"
  Call MakeSecretFile
  ${If} $2 != 1
    MessageBox MB_OK|MB_ICONSTOP "${NAME} could not be written into $INSTDIR with rights for the \
administrators only. Install ${PRODUCT} again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  File "${KIT}\${NAME}"
!macroend

; $R9 := the names in the install folder that are neither files of an earlier
; installation of this side nor files its program writes there, "" when there are none.
; Uses $0 and $1.
Function ForeignFiles
  StrCpy $R9 ""
  FindFirst $0 $1 "$INSTDIR\*"
  ${DoWhile} $1 != ""
    ${If} $1 != "."
    ${AndIf} $1 != ".."
      ${If} ${FileExists} "$INSTDIR\$1\*.*" ; a folder
      ${OrIfNot} ${OwnFile} $1
        StrCpy $R9 "$R9$\n    $1"
      ${EndIf}
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; Gives the install folder Program Files' rights before anything goes into it, and
; reads them back. A new folder is made with them in the same call. A folder already
; there must be SYSTEM's, the Administrators' or the installing administrator's
; (another user who made it may still hold it open for writing), and may hold nothing
; but an earlier installation of this side: both programs run elevated and start
; ping, tskill, openvpn and op.bat by bare names, found in their folder first, so a
; program or DLL that somebody left there would run with their rights. Where any of
; this fails, nothing is installed: a message, exit code 2.
Function PrepareInstallFolder
  Call ReadAdministrator
  StrCpy $MadeFolder 0
  StrCpy $R9 ""
  StrCpy $R0 $INSTDIR
  StrCpy $0 "${FOLDER_SECURITY}"
  Call SecurityFromText
  StrCpy $R1 $1
  ${If} $R1 == 0
    StrCpy $R9 "its rights could not be made (error in the installer)"
  ${ElseIf} ${FileExists} "$INSTDIR\*.*"
    Call OwnerOf
    ${IfNot} ${TrustedSid} $0
      StrCpy $R9 "it was made by another user ($0)"
    ${Else}
      System::Call 'advapi32::GetSecurityDescriptorOwner(p R1, *p .r3, *i .r4)'
      System::Call 'advapi32::GetSecurityDescriptorDacl(p R1, *i .r4, *p .r5, *i .r4)'
      ; OWNER_, DACL_ and PROTECTED_DACL_SECURITY_INFORMATION; what lies inside
      ; inherits the new entries in place of the old ones.
      System::Call 'advapi32::SetNamedSecurityInfoW(w R0, i 1, i 0x80000005, p r3, p 0, p r5, p 0) i .r2'
      ${If} $2 != 0
        StrCpy $R9 "its rights could not be changed (error $2)"
      ${EndIf}
    ${EndIf}
  ${ElseIf} ${FileExists} $INSTDIR
    StrCpy $R9 "it is a file"
  ${Else}
    ${GetParent} $INSTDIR $0
    CreateDirectory $0
    System::Call '*(i 24, i 0, p R1, i 0, i 0) p .r3' ; SECURITY_ATTRIBUTES
    System::Call 'kernel32::CreateDirectoryW(w R0, p r3) i .r2'
    System::Free $3
    ${If} $2 == 0
      StrCpy $R9 "it could not be made"
    ${Else}
      StrCpy $MadeFolder 1
    ${EndIf}
  ${EndIf}
  ${If} $R1 != 0
    System::Call 'kernel32::LocalFree(p R1)'
  ${EndIf}
  ${If} $R9 == ""
    Call CheckFolderRights
  ${EndIf}
  ${If} $R9 == ""
    Call ForeignFiles
    ${If} $R9 != ""
      StrCpy $R9 "it holds files that are not ${PRODUCT}'s:$R9$\n"
    ${EndIf}
  ${EndIf}
  ${If} $R9 != ""
    Call RemoveMadeFolder
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} cannot be installed in $INSTDIR: $R9.$\n$\n\
The program runs with administrator rights and starts other programs from its folder, \
so only administrators may change that folder. Choose a new folder or the one of an \
earlier installation of ${PRODUCT}. Nothing was installed." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; The install folder goes again if this installation made it and nothing went in.
Function RemoveMadeFolder
  ${If} $MadeFolder == 1
    RMDir $INSTDIR
  ${EndIf}
FunctionEnd

; Deletes what an earlier installation of this side put into the folder, and what its
; program wrote there, before the new files go in: each is made afresh, none keeps
; rights that somebody gave it while the folder was open to them.
!macro DeleteEarlierFiles
  !if "${SIDE}" == "client"
    Delete "$INSTDIR\stop.exe"
  !endif
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\${SIDE}.ovpn"
  Delete "$INSTDIR\remind.bat"
  Delete "$INSTDIR\ca.crt"
  Delete "$INSTDIR\${SIDE}.crt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$INSTDIR\op.bat"
  Delete "$INSTDIR\unamepass"
  Delete "$INSTDIR\hosts"
  Delete "$INSTDIR\log"
  Delete "$INSTDIR\openvpn.log"
!macroend

!if "${SIDE}" == "server"
; Has the installed server.exe end a running server (/stop: as on Cancel, OpenVPN
; ended, exit code 0 so that Task Scheduler does not start it again), since the
; installed program speaks the one-server lock of the version that runs. Its program
; file, and the folder it ran in, are free a moment after its process has gone: then
; the file opens for writing.
!macro StopRunningServer
  ${If} ${FileExists} "$INSTDIR\${EXE}"
    nsExec::Exec '"$INSTDIR\${EXE}" /stop'
    Pop $0
    ${If} $0 != 0
      DetailPrint "The running server did not stop (${EXE} /stop: $0)"
    ${EndIf}
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

!macro RemoveTask
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN "${TASK}" /F'
  Pop $0
!macroend

; Nothing left of the data folder.
!macro RemoveDataFolder
  Delete "${DATA_FOLDER}\credentials.sealed"
  Delete "${DATA_FOLDER}\credentials.sealed.new"
  Delete "${DATA_FOLDER}\task.xml"
  Delete "${DATA_FOLDER}\unattended.log"
  Delete "${DATA_FOLDER}\unattended.log.old"
  RMDir "${DATA_FOLDER}"
!macroend

; No task, and nothing left of the data folder.
Function RemoveUnattendedStart
  !insertmacro RemoveTask
  !insertmacro RemoveDataFolder
FunctionEnd

; An empty text in $R9 when name and password will do, else what is wrong. A
; password file is server.exe's to read (UTF-8 or UTF-16, which NSIS cannot tell
; apart): /seal checks the password in it.
Function CheckNameAndPassword
  StrCpy $R9 ""
  StrLen $R7 $UnattendedName
  StrLen $R8 $UnattendedPassword
  ${If} $R8 == 0
  ${AndIf} $PasswordFile != ""
    StrCpy $R8 1
  ${EndIf}
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
  ${AndIf} $R2 != ""
    ; server.exe /seal reads it, from another working directory.
    System::Call 'kernel32::GetFullPathNameW(w R2, i ${NSIS_MAX_STRLEN}, w .R3, p 0) i .R4'
    ${If} $R4 != 0
      StrCpy $PasswordFile $R3
    ${Else}
      StrCpy $PasswordFile $R2
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

; The task's definition, UTF-16LE with a byte-order mark as schtasks /XML wants it,
; written into the data folder that server.exe /seal has just made safe (only
; SYSTEM and the Administrators may write there), an earlier one deleted first.
; At boot as SYSTEM with the highest privileges, after a short delay, and again
; every five minutes for as long as Windows runs, which starts nothing while the
; task's server runs (one at a time: IgnoreNew) and starts it again within minutes
; once it has ended, however it ended (/stop ends it until then); no time limit (the
; default stops a task after 72 hours); restarted when it fails to start; not
; stopped on battery; in the install folder, where the server finds its
; configuration and writes its files; at normal priority (a task's default is below
; normal). An install folder may hold "&", which XML writes "&amp;". The trigger's
; elements go in the order of the Task Scheduler schema's sequence (Enabled,
; Repetition, Delay); a Repetition without Duration repeats indefinitely.
Function WriteTaskXml
  ${WordReplace} "$INSTDIR" "&" "&amp;" "+" $R0
  Delete "${DATA_FOLDER}\task.xml"
  FileOpen $0 "${DATA_FOLDER}\task.xml" w
  FileWriteUTF16LE /BOM $0 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $0 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $0 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '    <Description>Starts ${PRODUCT} when Windows starts, before anyone logs on.</Description>$\r$\n'
  FileWriteUTF16LE $0 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $0 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $0 '    <BootTrigger>$\r$\n'
  FileWriteUTF16LE $0 '      <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $0 '      <Repetition>$\r$\n'
  FileWriteUTF16LE $0 '        <Interval>PT5M</Interval>$\r$\n'
  FileWriteUTF16LE $0 '        <StopAtDurationEnd>false</StopAtDurationEnd>$\r$\n'
  FileWriteUTF16LE $0 '      </Repetition>$\r$\n'
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

; Seals the name and password with the server.exe about to be installed, run from the
; installer's own temporary folder before anything is installed or stopped. Where
; /seal refuses them (exit code 2: a name or password empty, too long or not in
; UTF-8 or UTF-16; nothing written) nothing is installed: a message, exit code 2.
; The name, and a password typed on the page, reach server.exe in a file of that
; folder with the secret files' rights, UTF-16LE with a byte-order mark (every
; character of the page survives), deleted at once; a password file is handed on as
; it is, since server.exe reads UTF-8 and UTF-16 alike.
Function SealNameAndPassword
  InitPluginsDir
  File "/oname=$PLUGINSDIR\${EXE}" "${KIT}\${EXE}"
  StrCpy $R0 "$PLUGINSDIR\unattended"
  Call MakeSecretFile
  ${If} $2 != 1
    StrCpy $SealResult "no file for ${EXE} /seal"
    Return
  ${EndIf}
  FileOpen $0 $R0 w
  ${If} $UnattendedPassword == ""
    FileWriteUTF16LE /BOM $0 "$UnattendedName$\r$\n"
    FileClose $0
    nsExec::Exec '"$PLUGINSDIR\${EXE}" /seal "$R0" "$PasswordFile"'
  ${Else}
    FileWriteUTF16LE /BOM $0 "$UnattendedName$\r$\n$UnattendedPassword$\r$\n"
    FileClose $0
    nsExec::Exec '"$PLUGINSDIR\${EXE}" /seal "$R0"'
  ${EndIf}
  Pop $SealResult
  Delete $R0
  ${If} $SealResult == 2
    Call RemoveMadeFolder
    MessageBox MB_OK|MB_ICONSTOP "The server cannot start with Windows with this name and password \
(${EXE} /seal: 2). The name and the password must have 1 to ${LONGEST} characters each; a \
password file holds the password on its first line, in UTF-8 or UTF-16 as Notepad and PowerShell \
write it.$\n$\nNothing was installed." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Starts the task now, as Windows starts it at boot: after an upgrade stopped it, the
; server runs again without a restart.
Function RunTask
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Run /TN "${TASK}"'
  Pop $0
  ${If} $0 == 0
    DetailPrint "The server runs (task $\"${TASK}$\" started)"
  ${Else}
    DetailPrint "The server starts when Windows starts next (schtasks /Run: $0)"
  ${EndIf}
FunctionEnd

; Registers the task for the name and password sealed, and starts it. Where the seal
; failed, an earlier start with Windows (its sealed file is still there: /seal keeps
; it when it fails) goes on as it was, and runs again; a first one leaves no half. The
; installer says so and ends with exit code 2.
Function SetUpUnattendedStart
  ${If} $SealResult == 0
    Call WriteTaskXml
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Create /TN "${TASK}" /XML "${DATA_FOLDER}\task.xml" /F'
    Pop $1
    ${If} $1 == 0
      DetailPrint "The server starts when Windows starts (task $\"${TASK}$\")"
      Call RunTask
      Return
    ${EndIf}
    StrCpy $1 "schtasks: $1"
  ${ElseIf} $EarlierTask == 1
  ${AndIf} ${FileExists} "${DATA_FOLDER}\credentials.sealed"
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Change /TN "${TASK}" /ENABLE'
    Pop $0
    Call RunTask
    MessageBox MB_OK|MB_ICONSTOP "The new name and password could not be sealed (${EXE} /seal: $SealResult). \
The server still starts when Windows starts, with the name and password given before. \
Install again as administrator to change them." /SD IDOK
    SetErrorLevel 2
    Return
  ${Else}
    StrCpy $1 "${EXE} /seal: $SealResult"
  ${EndIf}
  Call RemoveUnattendedStart
  MessageBox MB_OK|MB_ICONSTOP "The server could not be set to start when Windows starts ($1). \
Start it from the Start menu, or install again as administrator." /SD IDOK
  SetErrorLevel 2
FunctionEnd
!endif

Section
  Call PrepareInstallFolder
  !if "${SIDE}" == "server"
    ; An earlier installation's start with Windows: its sealed file goes with its task.
    StrCpy $EarlierTask 0
    ${IfThen} ${FileExists} "${DATA_FOLDER}\credentials.sealed" ${|} StrCpy $EarlierTask 1 ${|}
    ${If} $Unattended == 1
      Call SealNameAndPassword
    ${EndIf}
    ; A running server holds its program file, and its start when Windows starts
    ; changes now: the task of an earlier installation starts nothing meanwhile.
    ${If} $EarlierTask == 1
      nsExec::Exec '"$SYSDIR\schtasks.exe" /Change /TN "${TASK}" /DISABLE'
      Pop $0
    ${EndIf}
    !insertmacro StopRunningServer
  !endif
  !insertmacro DeleteEarlierFiles
  SetOutPath "$INSTDIR"
  File "${KIT}\${EXE}"
  !if "${SIDE}" == "client"
    File "${KIT}\stop.exe"
  !endif
  File "${KIT}\${SIDE}.ovpn"
  File "${KIT}\remind.bat"
  File "${KIT}\ca.crt"
  File "${KIT}\${SIDE}.crt"
  !insertmacro SecretFile "${SIDE}.key"
  !insertmacro SecretFile "tls-crypt.key"
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
    ; The task first, so that it starts no server again while the files go.
    !insertmacro RemoveTask
    !insertmacro StopRunningServer
    !insertmacro RemoveDataFolder
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
