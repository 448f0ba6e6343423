#include "formfixture.h"

#include "modaldriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace formfixture {

bool Environment::setUp()
{
    m_home = std::make_unique<testsupport::IsolatedDataHome>();
    return testsupport::registerBuiltComponent(QStringLiteral("ZTbutton.ocx")) &&
           testsupport::registerBuiltComponent(QStringLiteral("Mp3Enc.ocx"));
}

std::unique_ptr<Form1> openForm1(const WindowStart &start)
{
    auto form = std::make_unique<Form1>(start);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        qWarning("Form1 was not exposed");
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get()))
        qWarning("Form1 did not become active");
    return form;
}

rt::ComponentHost *host(const Form1 &form, const QString &name)
{
    return form.loader().host(name);
}

bool buttonEnabled(const Form1 &form, const QString &name)
{
    return host(form, name)->get(ZTbuttonEnabled).toBool();
}

void clickButton(const Form1 &form, const QString &name)
{
    QWidget *button = host(form, name)->widget();
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

QStringList items(const rt::ListBox *list)
{
    QStringList all;
    for (int i = 0; i < list->ListCount(); ++i)
        all << list->List(i);
    return all;
}

QString touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qWarning("cannot create %s", qPrintable(path));
    return path;
}

QString Form1Test::status() const
{
    return c<rt::TextBox>(QStringLiteral("Text2"))->Text();
}

void Form1Test::addFiles(const QStringList &files)
{
    modaldriver::answerFileDialog(files);
    clickButton(*m_form, QStringLiteral("ZTbutton1"));
    QVERIFY(modaldriver::waitForNoModal());
}

void Form1Test::openWindow(const WindowStart &start)
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_form = openForm1(start);
}

void Form1Test::closeWindow()
{
    m_form.reset();
    m_dir.reset();
}

} // namespace formfixture
