#pragma once

#include "platform/LinuxIcmpEcho.h"
#include "platform/NetworkInformationConnection.h"
#include "platform/QtDesktopShell.h"
#include "platform/QtHostResolver.h"
#include "platform/QtHttpClient.h"
#include "platform/QtTcpSocket.h"
#include "platform/Services.h"
#include "platform/SteadyClock.h"
#include "platform/SystemMessageBoxes.h"

namespace sondrel::platform {

// The real implementation of every platform interface.
class SystemServices {
public:
    Services services()
    {
        return Services{m_messages, m_clock, m_connection, m_echo, m_resolver, m_http, m_tcp, m_shell};
    }

private:
    SystemMessageBoxes m_messages;
    SteadyClock m_clock;
    NetworkInformationConnection m_connection;
    LinuxIcmpEcho m_echo;
    QtHostResolver m_resolver;
    QtHttpClient m_http;
    QtTcpSocketFactory m_tcp;
    QtDesktopShell m_shell;
};

} // namespace sondrel::platform
