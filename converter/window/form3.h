#pragma once

#include "converter/batch/batchoptions.h"
#include "runtime/controls.h"
#include "runtime/formloader.h"

#include <QEventLoop>
#include <QMap>
#include <functional>
#include <optional>

namespace rt {
class Registry;
}

// What the settings window is opened with beside the profile: whether the settings are kept,
// and the first listed file with a way to read its tags, for the pattern's preview.
struct SettingsStart
{
    BatchOptions profile;
    bool remembered = false;
    QString firstFile; // its name only; "" when the list is empty
    std::function<QMap<QString, QString>()> firstTags;
};

// The settings window (转换设置): the quality, the naming rule, what to do with an MP3 already
// there, the ReplayGain tags, and whether to keep them for the next start. Modal over the main
// window; its choices are checked as the terminal's options are before it closes with them.
class Form3 : public rt::Form
{
    Q_OBJECT
public:
    explicit Form3(const SettingsStart &start, const rt::Registry *registry = nullptr,
                   QWidget *owner = nullptr);
    ~Form3() override;

    const rt::FormLoader &loader() const { return m_loader; }

    // Shows the window modally over its owner and returns once it has been closed.
    void showModal();
    // The profile chosen and checked, once closed with 确定; none when cancelled.
    const std::optional<BatchOptions> &chosen() const { return m_chosen; }
    bool remember() const;

    void ZTbutton1_Click(); // 确定
    void ZTbutton2_Click(); // 取消

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    template <class T> T *need(const QString &name) const;
    rt::OptionButton *option(const QString &group, int index) const;
    int chosenIndex(const QString &group, int count) const;
    void fillLists();
    void showProfile(const BatchOptions &profile);
    BatchOptions profileOfControls() const;
    void updatePreview();

    rt::FormLoader m_loader;
    SettingsStart m_start;
    std::optional<QMap<QString, QString>> m_tags; // the first file's, read once
    std::optional<BatchOptions> m_chosen;
    QEventLoop m_modalLoop;
};
