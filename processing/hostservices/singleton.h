#pragma once

#include "strovaexport.h"

/// A process-wide instance filled by its first user and never deleted.
/// The library that owns T defines `instance`, so an executable and the
/// plug-ins it loads all see one pointer.
template <class T> struct STROVA_EXPORT Singleton {
    static T* instance;
};
