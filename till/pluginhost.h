#pragma once

#include "basicpaymentprocessing.h"

#include <QPluginLoader>
#include <QString>

namespace till {

/// Loads the payment plug-in the way a shop's host does and hands out its
/// processing interface.
class PluginHost {
public:
    /// The plug-in installed or built beside the till.
    static QString defaultPluginPath();

    /// False with Qt's reason in `error` when the file cannot be loaded, is not
    /// the Oxlen Pay plug-in, or its object is not a payment processing.
    bool load(const QString& path, QString* error);
    BasicPaymentProcessing* processing() const { return m_processing; }
    /// The plug-in's object, for what it offers beyond the processing interface.
    QObject* object() const { return m_object; }

private:
    QPluginLoader m_loader;
    BasicPaymentProcessing* m_processing = nullptr;
    QObject* m_object = nullptr;
};

} // namespace till
