#pragma once

#include "runtime/controls.h"
#include "runtime/formloader.h"

#include <QEventLoop>

namespace rt {
class Registry;
}

// The About window: the program's name and description, a link to the maker's web site and one
// button that closes it.
class Form2 : public rt::Form
{
    Q_OBJECT
public:
    explicit Form2(const rt::Registry *registry = nullptr, QWidget *owner = nullptr);
    ~Form2() override;

    const rt::FormLoader &loader() const { return m_loader; }

    // Shows the window modally over its owner and returns once it has been closed.
    void showModal();

    void ZTbutton1_Click();
    void Label2_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    rt::FormLoader m_loader;
    QEventLoop m_modalLoop;
};
