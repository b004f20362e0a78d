#include "startup.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "common/values.h"
#include "rendezvous/discovery.h"
#include "rendezvous/installation.h"
#include "rendezvous/message.h"
#include "rendezvous/openvpn.h"
#include "server/control.h"
#include "server/register.h"
#include "udp/udp.h"

static void readComputerName()
{
    memset(computerName, 0, sizeof computerName);
    const char* name = getenv("COMPUTERNAME");
    if (name)
        copyField(computerName, sizeof computerName, name);
}

bool startServer()
{
    putOpenVpnOnPath();
    readComputerName();
    if (!openVpnInstalled()) {
        startCommand(REMIND_COMMAND, SW_SHOW);
        return false;
    }
    endOpenVpn();
    peerTunnelIp = udpAddress(CLIENT_TUNNEL_ADDRESS);
    udpStartup();
    findCentralServer();
    return true;
}

void stopServer()
{
    endOpenVpn();
}
