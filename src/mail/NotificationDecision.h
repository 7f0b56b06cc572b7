#pragma once

namespace sondrel::mail {

// The site's status flags and the values last acted on.
struct StatusFlags {
    bool PingOk = true;
    bool PageOk = true;
    bool LastPingOk = true;
    bool LastPageOk = true;
};

// Decides whether a change of status is e-mailed, updating the last-acted-on values as decided: a change
// with notification off is remembered silently; with the page check off, a change of the page status alone is
// neither sent nor remembered. emailNotification: notification "Yes" selected; checkMainPage: page check on.
// Returns true when an e-mail is to be sent.
bool decideNotification(StatusFlags& flags, bool emailNotification, bool checkMainPage);

} // namespace sondrel::mail
