// Qt's own texts in the program's dialogs are Chinese, whatever the locale.

#include "converter/app/qttranslations.h"
#include "converter/dialogs/modopen.h"
#include "converter/window/msgbox.h"
#include "tests/converter/modaldriver.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

class TestQtTranslations final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // An English locale: the translations are loaded whatever the user's is.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(LoadQtChinese(*QCoreApplication::instance()),
                 "qtbase_zh_CN.qm is missing from Qt's translations folder");
    }

    void messageBoxButton()
    {
        QString ok;
        modaldriver::whenModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box) {
                modal->close();
                return;
            }
            ok = box->button(QMessageBox::Ok)->text();
            box->button(QMessageBox::Ok)->click();
        });
        MsgBox(nullptr, QStringLiteral("请添要转换的WAV文件"), MsgExclamation);
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(ok.remove(u'&'), QStringLiteral("确定"));
    }

    // The open-file dialog's labels and buttons.
    void openDialog()
    {
        QStringList labels;
        QStringList buttons;
        modaldriver::whenModal([&](QWidget *modal) {
            for (const QLabel *label : modal->findChildren<QLabel *>())
                labels << label->text();
            for (const QPushButton *button : modal->findChildren<QPushButton *>())
                buttons << button->text().remove(u'&');
            if (auto *dialog = qobject_cast<QFileDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        });
        ShowOpenDialog(nullptr, QStringLiteral("请选择要转的声音文件(可按扭Ctrl文件进行多选)"),
                       QStringLiteral("*.wav"), 1);
        QVERIFY(modaldriver::waitForNoModal());
        const QString all = labels.join(u'|') + u'|' + buttons.join(u'|');
        for (const char *english : {"Look in", "File name", "Files of type", "Open", "Cancel"})
            QVERIFY2(!all.contains(QLatin1String(english)), qPrintable(all));
        QVERIFY2(buttons.contains(QStringLiteral("取消")), qPrintable(all));
    }
};

QTEST_MAIN(TestQtTranslations)
#include "test_qttranslations.moc"
