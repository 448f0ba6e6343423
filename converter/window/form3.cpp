#include "converter/window/form3.h"

#include "converter/button/ztbuttonbinding.h"
#include "converter/window/modalwindow.h"
#include "converter/window/msgbox.h"
#include "converter/window/settingstext.h"
#include "runtime/comerror.h"

#include <QCloseEvent>
#include <algorithm>
#include <array>
#include <exception>
#include <utility>

using namespace settingstext;

namespace {

const QString FormDescription = QStringLiteral(":/forms/form3.json");

// The option groups, in the order their options stand.
const QString Mode = QStringLiteral("OptMode");
const QString Name = QStringLiteral("OptName");
const QString Existing = QStringLiteral("OptExisting");
const QString Gain = QStringLiteral("OptGain");
constexpr int ModeCount = 3;
constexpr int NameCount = 2;
constexpr int ExistingCount = int(ExistingRule::Update) + 1;
constexpr int GainCount = int(ReplayGainTags::Album) + 1;

// The mode options' order, as the encoder numbers them.
constexpr std::array<qint32, ModeCount> Modes = {Mp3Enc::ConstantRate, Mp3Enc::VariableRate,
                                                 Mp3Enc::AverageRate};

} // namespace

Form3::Form3(const SettingsStart &start, const rt::Registry *registry, QWidget *owner)
    : rt::Form(owner, Qt::Dialog), m_loader(registry), m_start(start)
{
    m_loader.load(FormDescription, this);
    fillLists();
    // Words for a screen reader where the window shows them in an option beside the control.
    // A list is read by the choice it shows; what it is for goes in its description.
    for (const auto &[list, words] :
         {std::pair{"CboCbr", "固定比特率的值"}, std::pair{"CboVbr", "可变比特率的质量"}}) {
        auto *combo = need<rt::ComboBox>(QString::fromLatin1(list));
        combo->setAccessibleName(QString::fromUtf8(words));
        combo->setAccessibleDescription(QString::fromUtf8(words));
    }
    need<rt::TextBox>(QStringLiteral("TxtAbr"))
        ->setAccessibleName(QStringLiteral("平均比特率（千比特/秒）"));
    need<rt::TextBox>(QStringLiteral("TxtPattern"))->setAccessibleName(QStringLiteral("标签模板"));
    need<rt::Label>(QStringLiteral("LblPreview"))->setAccessibleName(QStringLiteral("文件名预览"));
    const auto clicks = std::array{&Form3::ZTbutton1_Click, &Form3::ZTbutton2_Click};
    for (int n = 1; n <= 2; ++n) {
        const auto handler = clicks[size_t(n - 1)];
        need<rt::ComponentHost>(QStringLiteral("ZTbutton%1").arg(n))
            ->onEvent(ZTbuttonBinding::Click, [this, handler](QVariantList &) {
                try {
                    (this->*handler)();
                } catch (const std::exception &error) {
                    MsgBox(this, rt::reasonOf(error), MsgExclamation);
                }
            });
    }
    connect(need<rt::TextBox>(QStringLiteral("TxtPattern")), &QLineEdit::textChanged, this,
            [this] { updatePreview(); });
    for (int k = 0; k < NameCount; ++k)
        connect(option(Name, k), &QAbstractButton::toggled, this, [this] { updatePreview(); });
    showProfile(start.profile);
    need<rt::CheckBox>(QStringLiteral("Check1"))->setValue(start.remembered ? 1 : 0);
}

Form3::~Form3() = default;

template <class T> T *Form3::need(const QString &name) const
{
    T *control = m_loader.control<T>(name);
    if (!control)
        throw rt::ComError(
            rt::ErrNoSuchMember,
            QStringLiteral("Form3 has no control %1 of the expected kind").arg(name));
    return control;
}

rt::OptionButton *Form3::option(const QString &group, int index) const
{
    return need<rt::OptionButton>(QStringLiteral("%1(%2)").arg(group).arg(index));
}

int Form3::chosenIndex(const QString &group, int count) const
{
    for (int k = 0; k < count; ++k)
        if (option(group, k)->isChecked())
            return k;
    return 0;
}

void Form3::fillLists()
{
    auto *cbr = need<rt::ComboBox>(QStringLiteral("CboCbr"));
    for (const int kbps : ConstantKbps)
        cbr->addItem(ConstantRateItem(kbps), kbps);
    auto *vbr = need<rt::ComboBox>(QStringLiteral("CboVbr"));
    for (int quality = 0; quality <= MaxVbrQuality; ++quality)
        vbr->addItem(VbrItem(quality), quality);
}

// The controls as `profile` has it; a value the lists lack leaves its list at the default.
void Form3::showProfile(const BatchOptions &profile)
{
    const RateChoice &rate = profile.rate;
    const auto mode = std::find(Modes.begin(), Modes.end(), rate.mode);
    option(Mode, mode == Modes.end() ? 0 : int(mode - Modes.begin()))->setChecked(true);
    auto *cbr = need<rt::ComboBox>(QStringLiteral("CboCbr"));
    const int constant = cbr->findData(rate.mode == Mp3Enc::ConstantRate ? rate.bitRate / 1000
                                                                         : DefaultBitRate / 1000);
    cbr->setListIndex(constant);
    auto *vbr = need<rt::ComboBox>(QStringLiteral("CboVbr"));
    const int quality =
        vbr->findData(rate.mode == Mp3Enc::VariableRate ? rate.vbrQuality : UsualVbrQuality);
    vbr->setListIndex(quality < 0 ? vbr->findData(UsualVbrQuality) : quality);
    if (rate.mode == Mp3Enc::AverageRate)
        need<rt::TextBox>(QStringLiteral("TxtAbr"))->setText(QString::number(rate.bitRate / 1000));
    option(Name, profile.pattern.isEmpty() ? 0 : 1)->setChecked(true);
    if (!profile.pattern.isEmpty())
        need<rt::TextBox>(QStringLiteral("TxtPattern"))->setText(profile.pattern);
    option(Existing, int(profile.existing))->setChecked(true);
    option(Gain, int(profile.replayGain))->setChecked(true);
    updatePreview();
}

BatchOptions Form3::profileOfControls() const
{
    BatchOptions profile = m_start.profile;
    const qint32 mode = Modes[size_t(chosenIndex(Mode, ModeCount))];
    profile.rate = RateChoice{.mode = mode};
    if (mode == Mp3Enc::ConstantRate) {
        profile.rate.bitRate =
            need<rt::ComboBox>(QStringLiteral("CboCbr"))->currentData().toInt() * 1000;
    } else if (mode == Mp3Enc::VariableRate) {
        profile.rate.vbrQuality =
            need<rt::ComboBox>(QStringLiteral("CboVbr"))->currentData().toInt();
    } else {
        bool ok = false;
        const int kbps = need<rt::TextBox>(QStringLiteral("TxtAbr"))->Text().trimmed().toInt(&ok);
        // Not a whole number: a rate no check passes, so the check names the setting.
        profile.rate.bitRate = ok && kbps >= 0 && kbps < 1000000 ? kbps * 1000 : -1;
    }
    profile.pattern = chosenIndex(Name, NameCount) == 1
                          ? need<rt::TextBox>(QStringLiteral("TxtPattern"))->Text()
                          : QString();
    profile.existing = ExistingRule(chosenIndex(Existing, ExistingCount));
    profile.replayGain = ReplayGainTags(chosenIndex(Gain, GainCount));
    return profile;
}

void Form3::updatePreview()
{
    auto *preview = need<rt::Label>(QStringLiteral("LblPreview"));
    if (!option(Name, 1)->isChecked()) {
        preview->setCaption(QString());
        return;
    }
    if (!m_tags && !m_start.firstFile.isEmpty() && m_start.firstTags) {
        try {
            m_tags = m_start.firstTags();
        } catch (const std::exception &error) {
            preview->setCaption(QStringLiteral("无法读取标签：") + rt::reasonOf(error));
            return;
        }
    }
    preview->setCaption(PreviewText(need<rt::TextBox>(QStringLiteral("TxtPattern"))->Text(),
                                    m_tags.value_or(QMap<QString, QString>()), m_start.firstFile));
}

bool Form3::remember() const
{
    return need<rt::CheckBox>(QStringLiteral("Check1"))->Value() == 1;
}

void Form3::showModal()
{
    ShowModal(*this, m_modalLoop);
}

void Form3::ZTbutton1_Click()
{
    const BatchOptions profile = profileOfControls();
    if (const auto problem = CheckChoices(profile)) {
        MsgBox(this, ProblemText(*problem), MsgExclamation);
        return; // the window stays open for the setting to be mended
    }
    m_chosen = profile;
    close();
}

void Form3::ZTbutton2_Click()
{
    m_chosen.reset();
    close();
}

void Form3::closeEvent(QCloseEvent *event)
{
    rt::Form::closeEvent(event);
    m_modalLoop.quit();
}
