#pragma once

#include "converter/window/form1.h"
#include "tests/support/testsupport.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// What the tests that open the real main window share: an isolated data folder with both
// component libraries registered, and typed access to the window's controls.
namespace formfixture {

// The button control's Enabled property and the encoder's BitRate, read late-bound.
constexpr rt::DispId ZTbuttonEnabled = 0x68030004;

class Environment
{
public:
    // Registers the built components in a fresh data folder; false when one cannot be.
    bool setUp();

private:
    std::unique_ptr<testsupport::IsolatedDataHome> m_home;
};

// Creates and shows Form1, waiting until it is exposed and active; `start` as the command line
// gives it.
std::unique_ptr<Form1> openForm1(const WindowStart &start = {});

template <class T> T *control(const Form1 &form, const QString &name)
{
    return form.loader().control<T>(name);
}
rt::ComponentHost *host(const Form1 &form, const QString &name);
bool buttonEnabled(const Form1 &form, const QString &name);
// A left click in the middle of a hosted button, as the user gives it.
void clickButton(const Form1 &form, const QString &name);
// A list box's entries, in order.
QStringList items(const rt::ListBox *list);
// Creates an empty file (and its folder) and returns its path.
QString touch(const QString &path);

// The state and helpers a test class driving the real main window shares. Each test function
// gets a fresh window and scratch folder from init() and cleanup().
class Form1Test : public QObject
{
protected:
    template <class T> T *c(const QString &name) const { return control<T>(*m_form, name); }
    QString status() const;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Adds `files` through the real dialog, as the user does with the add button.
    void addFiles(const QStringList &files);

    void openWindow(const WindowStart &start = {});
    void closeWindow();

    Environment m_environment;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace formfixture
