; The Windows installer of one side of an installation, client or server: the
; program, its OpenVPN configuration and keys, remind.bat (and stop.exe on the
; client), a Start-menu shortcut that starts the program in its install folder,
; the side's inbound rules in Windows' firewall, and an uninstaller listed among
; the installed programs that removes all of it.
; makensis -DSIDE=client|server -DKIT=DIR -DVERSION=V -DOUTFILE=FILE [-DSIGN=COMMAND] punchvpn.nsi
; KIT holds the side's files as openvpn/make-kits stages them.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include LogicLib.nsh

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

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; Installed again, it goes where it was installed before.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation
ShowInstDetails show
ShowUninstDetails show

Var FirewallFailures

Page directory
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
FunctionEnd

; Replaces the firewall rule NAME (deleted first, so that installing again makes no
; second one) and notes it in FirewallFailures when netsh does not add it. The exit
; code tells; netsh's output is in the user's language.
!macro FirewallRule NAME ARGS
  nsExec::Exec '${NETSH} delete rule name="${NAME}"'
  Pop $0
  nsExec::Exec '${NETSH} add rule name="${NAME}" dir=in action=allow ${ARGS}'
  Pop $0
  ${If} $0 == "0"
    DetailPrint "Firewall rule added: ${NAME}"
  ${Else}
    DetailPrint "Firewall rule NOT added (netsh: $0): ${NAME}"
    StrCpy $FirewallFailures "$FirewallFailures$\n    ${NAME} (netsh: $0)"
  ${EndIf}
!macroend

!macro RemoveFirewallRule NAME
  nsExec::Exec '${NETSH} delete rule name="${NAME}"'
  Pop $0
!macroend

Function AddFirewallRules
  StrCpy $FirewallFailures ""
  !ifdef RULE_OPENVPN
    !insertmacro FirewallRule "${RULE_OPENVPN}" `${RULE_OPENVPN_ARGS}`
    !insertmacro FirewallRule "${RULE_SHARES}" `${RULE_SHARES_ARGS}`
  !endif
  !insertmacro FirewallRule "${RULE_PROBES}" `${RULE_PROBES_ARGS}`
  ${If} $FirewallFailures != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Windows' firewall did not take these rules:$FirewallFailures$\n$\n\
Without them the tunnel may not come up. Add them as administrator with \
netsh advfirewall firewall add rule (see the README), or install again.$\n$\n\
The installation of ${PRODUCT} goes on now." /SD IDOK
  ${EndIf}
FunctionEnd

Section
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
