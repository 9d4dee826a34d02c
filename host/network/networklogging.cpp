#include "networklogging.h"

Q_LOGGING_CATEGORY(strovaNetwork, "strova.network")
