#pragma once

#include "tillcommandline.h"

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace sandbox {
class SandboxServer;
}

namespace till {

class TillOperations;

/// The till's demo: a sandbox over HTTPS in this process, a configuration for it
/// under a temporary root, and a walk through every operation.
class Demo {
public:
    Demo();
    ~Demo();

    /// Starts the sandbox and points the plug-in's configuration at it.
    bool prepare(bool verbose, QString* error);
    /// Runs the walk; true when every step ended as it should.
    bool run(TillOperations& till, bool json);

private:
    QString ledgerText() const;

    /// Made by prepare(): only the demo leaves a temporary directory behind if killed.
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<sandbox::SandboxServer> m_sandbox;
};

} // namespace till
