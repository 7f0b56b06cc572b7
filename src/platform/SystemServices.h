#pragma once

#include "platform/FreedesktopNotifier.h"
#include "platform/KeychainSecretStore.h"
#include "platform/LinuxIcmpEcho.h"
#include "platform/NetworkInformationConnection.h"
#include "platform/QtHostResolver.h"
#include "platform/QtHttpClient.h"
#include "platform/QtTcpSocket.h"
#include "platform/Services.h"
#include "platform/SteadyClock.h"

namespace sondrel::platform {

// The real implementation of every network, clock, secret store and desktop notification interface. How
// messages reach the user and how documents are opened depends on whether the program shows windows, so the
// caller brings those two.
class SystemServices {
public:
    Services services(MessageBoxes& messages, DesktopShell& shell)
    {
        return Services{messages, m_clock, m_connection, m_echo,    m_resolver,
                        m_http,   m_tcp,   shell,        m_secrets, m_notifier};
    }

private:
    SteadyClock m_clock;
    NetworkInformationConnection m_connection;
    LinuxIcmpEcho m_echo;
    QtHostResolver m_resolver;
    QtHttpClient m_http;
    QtTcpSocketFactory m_tcp;
    KeychainSecretStore m_secrets;
    FreedesktopNotifier m_notifier;
};

} // namespace sondrel::platform
