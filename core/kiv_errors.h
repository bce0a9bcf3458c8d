// The program's own errors. They all derive from EkivError, whose header lies at the bottom
// beside the XML library; what() is the German message in UTF-8, shown as it is by the
// application's exception handling.
#pragma once

#include "kiv_error.h"

// An operating-system call failed: "Systemfehler.  Code: %d." and the system's text.
class EkivOSError : public EkivError {
public:
    explicit EkivOSError(int Code);
    int Code;
};

// A field of a dialog holds what cannot be accepted; the message says what.
class EInputError : public EkivError {
public:
    using EkivError::EkivError;
};

// The registry file cannot be read, or cannot be written.
class ERegistryError : public EkivError {
public:
    using EkivError::EkivError;
};

// The program is put together wrongly (a component without the window it needs).
class EProgramError : public EkivError {
public:
    using EkivError::EkivError;
};
