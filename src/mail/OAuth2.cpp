#include "mail/OAuth2.h"

namespace sondrel::mail {
} // namespace sondrel::mail
