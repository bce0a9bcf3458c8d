#include "kiv_error.h"

EkivError::EkivError(const QString& Message) : std::runtime_error(Message.toUtf8().toStdString()) {}
