; The Windows installer of one side of an installation, client or server: the
; program, its OpenVPN configuration and keys, remind.bat (and stop.exe on the
; client), a Start-menu shortcut that starts the program in its install folder,
; and an uninstaller listed among the installed programs.
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
; The programs look for exactly this file before they start OpenVPN.
!define OPENVPN_PROBE "c:\program files\openvpn\license.txt"

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

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ${IfNot} ${FileExists} "${OPENVPN_PROBE}"
    MessageBox MB_OK|MB_ICONEXCLAMATION "OpenVPN is not installed on this computer.$\n$\n\
${PRODUCT} starts OpenVPN and expects it in c:\program files\openvpn. \
Install OpenVPN for Windows 2.6 from https://openvpn.net/community-downloads/ \
in its default folder, before you start ${PRODUCT}.$\n$\n\
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
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
