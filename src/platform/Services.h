#pragma once

#include "platform/Clock.h"
#include "platform/ConnectionService.h"
#include "platform/DesktopNotifier.h"
#include "platform/DesktopShell.h"
#include "platform/HostResolver.h"
#include "platform/HttpClient.h"
#include "platform/IcmpEcho.h"
#include "platform/MessageBoxes.h"
#include "platform/OAuthTransport.h"
#include "platform/SecretStore.h"
#include "platform/TcpSocket.h"

namespace sondrel::platform {

// Everything the program needs from the system, in one place: the real implementations in
// SystemServices, fakes in the tests.
struct Services {
    MessageBoxes& messages;
    Clock& clock;
    ConnectionService& connection;
    IcmpEcho& echo;
    HostResolver& resolver;
    HttpClient& http;
    TcpSocketFactory& tcp;
    DesktopShell& shell;
    SecretStore& secrets;
    DesktopNotifier& notifier = DesktopNotifier::none();
    OAuthTransport& oauth = OAuthTransport::system();
};

} // namespace sondrel::platform
