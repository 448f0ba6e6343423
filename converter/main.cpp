#include "converter/main/qttranslations.h"
#include "converter/startup/for0.h"
#include "runtime/comerror.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("batchmp3"));
    QApplication::setApplicationVersion(QStringLiteral(BATCHMP3_VERSION_TEXT));
    if (!LoadQtChinese(app))
        std::fprintf(stderr, "batchmp3: Qt's Chinese translations are not installed\n");

    For0 *splash = nullptr;
    try {
        splash = new For0();
    } catch (const rt::ComError &e) {
        std::fprintf(stderr, "batchmp3: %s\n", qPrintable(e.description()));
        return 1;
    }
    QObject::connect(splash, &For0::handOverFailed, [](const QString &missing) {
        const QString text = QStringLiteral("主窗口无法创建，缺少可用的组件：\n%1").arg(missing);
        std::fprintf(stderr, "batchmp3: %s\n", qPrintable(missing));
        QMessageBox box(QMessageBox::Critical, QStringLiteral("batchmp3"), text, QMessageBox::Ok);
        box.exec();
        QCoreApplication::exit(1);
    });
    splash->show();
    return app.exec();
}
