#include "kiv_errors.h"

#include "kiv_FileText.h"

namespace {

QString OSErrorMessage(int Code) {
    // The reason in German, whatever the system's language.
    return QStringLiteral("Systemfehler.  Code: %1.\n%2").arg(Code).arg(SystemErrorText(Code));
}

} // namespace

EkivOSError::EkivOSError(int Code) : EkivError(OSErrorMessage(Code)), Code(Code) {}
