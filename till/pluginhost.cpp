#include "pluginhost.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>

namespace till {

QString PluginHost::defaultPluginPath()
{
    const QString here = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        here + "/../lib/strova/paysystems/libProcessingOxlenPay.so", // installed
        here + "/../plugin/libProcessingOxlenPay.so",                // build tree
        here + "/libProcessingOxlenPay.so",
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate)) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return candidates.first();
}

bool PluginHost::load(const QString& path, QString* error)
{
    m_loader.setFileName(path);
    if (!m_loader.load()) {
        *error = m_loader.errorString();
        return false;
    }
    const QJsonObject metadata = m_loader.metaData();
    if (metadata.value("IID").toString() != "OxlenPay") {
        *error = QString("%1 is not the Oxlen Pay plug-in (IID \"%2\")")
                     .arg(path, metadata.value("IID").toString());
        return false;
    }
    QObject* instance = m_loader.instance();
    m_object = instance;
    m_processing = qobject_cast<BasicPaymentProcessing*>(instance);
    if (!m_processing) {
        *error = instance ? QString("the plug-in's object is not a BasicPaymentProcessing")
                          : m_loader.errorString();
        return false;
    }
    return true;
}

} // namespace till
