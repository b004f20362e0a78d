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

# Every status text of both programs, and nothing else (dialog_sh_test.py checks it
# both ways, and against the README's table).
IDLE="IDLE"
REPORT_TO_CENTRAL="REPORT TO CENTRAL"
CENTRAL_TIMEOUT="CENTRAL TIMEOUT"
NAME_HAS_BEEN_USED="NAME HAS BEEN USED"
FAIL_TO_OPEN_PORT="FAIL TO OPEN PORT"
WAIT_FOR_REQUEST="WAIT FOR REQUEST"
REQUEST_FROM_CLIENT="REQUEST FROM CLIENT"
CONNECTING="CONNECTING"
SERVER_NOT_READY="SERVER NOT READY"
START_OPENVPN="START OPENVPN"
CONNECTED='CONNECTED\nSERVER:10.8.0.1  CLIENT:10.8.0.2'
# The server's connected text after a missed tick, spelt as users know it.
RECOVERY='CONNECTED\nSERVER:10.8.0.1  ClIENT:10.8.0.2'
# The server's status line while a few probes are missing.
BLANK=""
TIMEOUT="TIMEOUT"
TIME_OUT="TIME OUT"
WRONG_PASSWORD="WRONG PASSWORD"
DISCONNECTED="DISCONNECTED"
CONNECTION_BROKEN="CONNECTION BROKEN"
