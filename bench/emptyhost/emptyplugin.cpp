#include "emptyplugin.h"
