#include "log4qt/logmanager.h"

#include <QHash>
#include <QMutex>

#include <memory>

namespace Log4Qt {

namespace {

struct Registry {
    QMutex mutex;
    QHash<QString, std::shared_ptr<Logger>> loggers;
};

Registry& registry()
{
    // Never destroyed: loggers must outlive every static object that logs at exit.
    static Registry* instance = new Registry;
    return *instance;
}

} // namespace

Logger* LogManager::logger(const QString& name, const QString&)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    auto& slot = r.loggers[name];
    if (!slot) {
        slot = std::make_shared<Logger>(name);
    }
    return slot.get();
}

Logger* LogManager::rootLogger()
{
    return logger(QString());
}

} // namespace Log4Qt
