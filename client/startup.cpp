#include "startup.h"

#include <windows.h>

#include "client/control.h"
#include "client/hosts.h"
#include "common/values.h"
#include "rendezvous/installation.h"
#include "rendezvous/openvpn.h"
#include "udp/udp.h"

bool startClient()
{
    putOpenVpnOnPath();
    if (!openVpnInstalled()) {
        startCommand(REMIND_COMMAND, SW_SHOW);
        return false;
    }
    endOpenVpn();
    peerTunnelIp = udpAddress(SERVER_TUNNEL_ADDRESS);
    udpStartup();
    addHostsEntry();
    return true;
}

void stopClient()
{
    if (active)
        endOpenVpn();
}
