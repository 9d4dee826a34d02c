#pragma once

/// A process-wide instance filled by its first user and never deleted.
template <class T> struct Singleton {
    static inline T* instance = nullptr;
};
