@echo off
rem Shown by client.exe and server.exe when OpenVPN is not installed on this computer.
title OpenVPN is not installed
echo.
echo   OpenVPN is not installed on this computer.
echo.
echo   This program starts OpenVPN. It finds it where OpenVPN's own installer
echo   puts it: in the folder that installer recorded, by default
echo       C:\Program Files\OpenVPN
echo   Install OpenVPN for Windows 2.6 (https://openvpn.net/community-downloads/,
echo   the Windows 64-bit MSI installer, default options), then start this
echo   program again. Nothing needs to be added to the PATH.
echo.
pause
