// Registers (or with /u unregisters) a component library file, as the system's tool does.
//   regsvr32 [/s] [/u] file
// Exit status 0 on success, 1 on a failure, 2 on a usage error; /s keeps it silent.

#include "runtime/regsvr.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bool silent = false;
    bool unregister = false;
    QStringList files;
    for (const QString &arg : app.arguments().mid(1)) {
        if (arg.compare(QLatin1String("/s"), Qt::CaseInsensitive) == 0)
            silent = true;
        else if (arg.compare(QLatin1String("/u"), Qt::CaseInsensitive) == 0)
            unregister = true;
        else
            files.append(arg);
    }
    if (files.size() != 1) {
        if (!silent)
            std::fprintf(stderr, "usage: regsvr32 [/s] [/u] <component library file>\n");
        return 2;
    }
    const QString file = files.first();
    QString error;
    if (!rt::registerLibrary(file, unregister, &error)) {
        if (!silent)
            std::fprintf(stderr, "regsvr32: %s\n", qPrintable(error));
        return 1;
    }
    if (!silent)
        std::printf("%s in %s succeeded.\n",
                    unregister ? "DllUnregisterServer" : "DllRegisterServer", qPrintable(file));
    return 0;
}
