// The floor of a till command's start: a QtCore application that loads one plug-in,
// makes its instance and exits.
//   oxlenpay-minimal-host PLUGIN
#include <QCoreApplication>
#include <QPluginLoader>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: oxlenpay-minimal-host PLUGIN\n");
        return 2;
    }
    QPluginLoader loader(QString::fromLocal8Bit(argv[1]));
    if (!loader.instance()) {
        std::fprintf(stderr, "%s\n", qPrintable(loader.errorString()));
        return 1;
    }
    return 0;
}
