// The configuration stand-in's INI reader on arbitrary files. Invariants: no
// crash; every key is "Section:name" or a bare name, never empty, never holding a
// line break, never ending in ':' (a section may hold ':', a name may not); a value never starts or
// ends with a blank unless it was quoted; and reading the same bytes twice gives the same values.
#include "configlogging.h"
#include "inifile.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

// Defined by the configuration library, whose other parts are not built here.
Q_LOGGING_CATEGORY(strovaConfig, "strova.config")

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir* directory = [] {
        QLoggingCategory::setFilterRules("strova.*=false");
        return new QTemporaryDir;
    }();
    const QString path = directory->filePath("fuzz.conf");
    const QByteArray content(reinterpret_cast<const char*>(data), int(size));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    file.close();

    IniFile first(path, QString()), second(path, QString());
    first.refresh();
    second.refresh();
    if (first.values() != second.values()) {
        std::abort(); // the same bytes read differently
    }
    for (auto it = first.values().cbegin(); it != first.values().cend(); ++it) {
        const QString& key = it.key();
        if (key.isEmpty() || key.contains('\n') || key.endsWith(':')) {
            std::abort();
        }
        if (it.value().contains('\n')) {
            std::abort();
        }
        // (Bytes that are not UTF-8 come back as U+FFFD, so look for the quotes alone.)
        const bool quoted = content.contains('"');
        if (!quoted && it.value() != it.value().trimmed()) {
            std::abort(); // blanks kept around an unquoted value
        }
    }
    return 0;
}
