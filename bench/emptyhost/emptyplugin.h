#pragma once

#include <QObject>

/// A Qt plug-in with nothing in it: what loading any plug-in costs a QtCore host.
class EmptyPlugin : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.oxlenpay.bench.EmptyPlugin")
};
