// The library's plug-in entry points and metadata, written out by hand so the
// block carries the Qt 5.12 header the hosts in the field expect.
#include "config.h"
#include "oxlenpay.h"

#include <QPointer>
#include <QtGlobal>

namespace {

// "QTMETADATA !", format 0, Qt 5.12, no architecture needs, then the CBOR map
// {2: "OxlenPay" (IID), 3: "OxlenPay" (class name)}.
__attribute__((section(".qtmetadata"), used)) const unsigned char pluginMetaData[38] = {
    'Q',  'T',  'M',  'E',  'T',  'A',  'D', 'A', 'T', 'A', ' ', '!',  0x00,
    0x05, 0x0C, 0x00, 0xBF, 0x02, 0x68, 'O', 'x', 'l', 'e', 'n', 'P',  'a',
    'y',  0x03, 0x68, 'O',  'x',  'l',  'e', 'n', 'P', 'a', 'y', 0xFF,
};

// The host's configuration class expects its path lists to be defined by the plug-in.
[[maybe_unused]] const void* const configPathLists[] = {
    &Config::configDirectoriesPathList, &Config::configFilesPathList, &Config::additionalPathList};

} // namespace

extern "C" Q_DECL_EXPORT const char* qt_plugin_query_metadata()
{
    return reinterpret_cast<const char*>(pluginMetaData);
}

extern "C" Q_DECL_EXPORT QObject* qt_plugin_instance()
{
    // The host owns the object; the holder only notices when it is gone.
    static QPointer<QObject> instance;
    if (!instance) {
        instance = new oxlenpay::OxlenPay();
    }
    return instance;
}
