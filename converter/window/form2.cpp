#include "converter/window/form2.h"

#include "converter/button/ztbuttonbinding.h"
#include "converter/window/fittext.h"
#include "converter/window/maker.h"
#include "converter/window/modalwindow.h"
#include "runtime/comerror.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QUrl>

namespace {

const QString FormDescription = QStringLiteral(":/forms/form2.json");

} // namespace

Form2::Form2(const rt::Registry *registry, QWidget *owner)
    : rt::Form(owner, Qt::Dialog), m_loader(registry) // a dialog: kept above its owner
{
    m_loader.load(FormDescription, this);
    if (auto *button = m_loader.host(QStringLiteral("ZTbutton1")))
        button->onEvent(ZTbuttonBinding::Click, [this](QVariantList &) { ZTbutton1_Click(); });
    if (auto *description = m_loader.control<rt::Label>(QStringLiteral("Label1")))
        FitTextToBox(description);
    if (auto *link = m_loader.control<rt::Label>(QStringLiteral("Label2")))
        connect(link, &rt::Label::Click, this, &Form2::Label2_Click);
}

Form2::~Form2() = default;

void Form2::showModal()
{
    ShowModal(*this, m_modalLoop);
}

void Form2::ZTbutton1_Click()
{
    close();
}

void Form2::Label2_Click()
{
    // A missing browser or association is not reported; the window stays open.
    QDesktopServices::openUrl(QUrl(MakerWebUrl));
}

void Form2::closeEvent(QCloseEvent *event)
{
    rt::Form::closeEvent(event);
    m_modalLoop.quit();
}
