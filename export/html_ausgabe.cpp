#include "html_ausgabe.h"
