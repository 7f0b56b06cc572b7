#include "mail/NotificationDecision.h"

namespace sondrel::mail {

namespace {

void remember(StatusFlags& flags)
{
    flags.LastPingOk = flags.PingOk;
    flags.LastPageOk = flags.PageOk;
}

} // namespace

bool decideNotification(StatusFlags& flags, bool emailNotification, bool checkMainPage)
{
    const bool pingChanged = flags.PingOk != flags.LastPingOk;
    const bool pageChanged = flags.PageOk != flags.LastPageOk;
    if (!pingChanged && !pageChanged)
        return false;
    if (!emailNotification) {
        remember(flags);
        return false;
    }
    if (checkMainPage || pingChanged) {
        remember(flags);
        return true;
    }
    return false;
}

} // namespace sondrel::mail
