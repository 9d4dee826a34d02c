#pragma once

#include "log4qt/log4qtshared.h"
#include "log4qt/logger.h"

#include <QString>

namespace Log4Qt {

/// Hands out one logger per name; the manager owns them for the life of the process.
class LOG4QT_EXPORT LogManager {
public:
    static Logger* logger(const QString& name, const QString& repository = QString());
    static Logger* rootLogger();
};

} // namespace Log4Qt
