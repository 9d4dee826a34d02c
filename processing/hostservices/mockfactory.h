#pragma once

#include "strovaexport.h"

#include <QSharedPointer>

#include <functional>

/// Makes the objects of T; tests replace `creator` to stand doubles in.
template <class T> class STROVA_EXPORT MockFactory {
public:
    static QSharedPointer<T> defaultCreator();
    static inline std::function<QSharedPointer<T>()> creator =
        std::bind(&MockFactory<T>::defaultCreator);
};
