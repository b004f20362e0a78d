# The real server.exe: its control dialog, hidden main window, About box and the
# ways to end it.
set -eu
PROGRAM=server CAPTION="VPN SERVER" CLASS=SERVER
CONTROLS='1000 Button 204 7 50 14 Connect
1001 Button 204 28 50 14 Disconnect
2 Button 204 53 50 14 Cancel
-1 Static 32 32 20 10 Name
1003 Edit 57 31 88 12
-1 Static 21 56 33 10 Password
1004 Edit 57 55 87 12
1005 Static 56 102 125 16 IDLE
1006 Static 240 130 14 8'
ABOUT='2 Static 14 9 - - *
-1 Static 49 10 119 8 server Version 1.0
-1 Static 49 20 119 8 *
1 Button 195 6 30 11 OK'
. "$WINE_TESTS/window-checks.sh"
