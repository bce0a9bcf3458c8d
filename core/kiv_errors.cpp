#include "kiv_errors.h"

#include <cstring>

namespace {

QString OSErrorMessage(int Code) {
    char Buffer[256];
    // The GNU strerror_r returns the text, which may or may not live in Buffer.
    const char* Text = strerror_r(Code, Buffer, sizeof Buffer);
    return QStringLiteral("Systemfehler.  Code: %1.\n%2").arg(Code).arg(QString::fromLocal8Bit(Text));
}

} // namespace

EkivOSError::EkivOSError(int Code) : EkivError(OSErrorMessage(Code)), Code(Code) {}
