# The dialogs of both programs as the scripts drive and read them: the control ids of
# shell/resource.h, the captions of client.rc and server.rc, and the status texts as
# the programs show them (a line break as \n, the way the dialog driver and the
# watcher write and take it). tests/native/dialog_sh_test.py checks every value here
# against the sources.
CONNECT_BUTTON=1000
DISCONNECT_BUTTON=1001
IDCANCEL=2
NAME_FIELD=1003
PASSWORD_FIELD=1004
STATUS_LINE=1005
HEARTBEAT_FIELD=1006
COMMAND_ABOUT=104
COMMAND_EXIT=105
# The buttons of the question a server asks when another one runs, and its title.
IDYES=6
IDNO=7
RUNNING_SERVER_BOX="punchvpn server"

SERVER_CAPTION="VPN SERVER"
CLIENT_CAPTION="VPN CLIENT"

IDLE="IDLE"
WAIT_FOR_REQUEST="WAIT FOR REQUEST"
NAME_HAS_BEEN_USED="NAME HAS BEEN USED"
CENTRAL_TIMEOUT="CENTRAL TIMEOUT"
REPORT_TO_CENTRAL="REPORT TO CENTRAL"
START_OPENVPN="START OPENVPN"
SERVER_NOT_READY="SERVER NOT READY"
CONNECTION_BROKEN="CONNECTION BROKEN"
WRONG_PASSWORD="WRONG PASSWORD"
DISCONNECTED="DISCONNECTED"
TIMEOUT="TIMEOUT"
TIME_OUT="TIME OUT"
CONNECTED='CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2'
# The server's connected text after a missed tick, spelt as users know it.
RECOVERY='CONNECTED\nSERVER:10.8.0.1  ClIENT:10.8.0.2'
