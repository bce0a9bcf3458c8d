// The root of the program's exceptions. It lives at the bottom of the libraries, so that every
// layer can raise and catch its family without knowing the XML model.
#pragma once

#include <QString>

#include <stdexcept>

// what() is the German message in UTF-8.
class EkivError : public std::runtime_error {
public:
    explicit EkivError(const QString& Message);
    QString Message() const { return QString::fromUtf8(what()); }
};
