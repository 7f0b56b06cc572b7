#pragma once

#include <QStringView>

namespace sondrel::platform {

// The value of the number a text begins with, as users type numbers into fields: leading blanks are
// skipped, a sign, digits, a decimal point and an exponent are read; a text that begins with no number
// gives 0.
double leadingNumber(QStringView text);

} // namespace sondrel::platform
