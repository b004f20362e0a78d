@echo off
rem Shown by client.exe and server.exe when OpenVPN is not installed on this computer.
title OpenVPN is not installed
echo.
echo   OpenVPN is not installed on this computer.
echo.
echo   This program starts OpenVPN and expects it in
echo       c:\program files\openvpn
echo   Install OpenVPN for Windows (2.6) there, in its default folder, with its
echo   bin folder on the PATH (the installer does both by default), then start
echo   this program again.
echo.
pause
