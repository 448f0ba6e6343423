#pragma once

#include "converter/batch/batchengine.h"
#include "converter/batch/batchprogress.h"
#include "converter/batch/batchrules.h"
#include "converter/files/audiofiles.h"
#include "converter/files/pathhelpers.h"
#include "converter/window/batchtext.h"
#include "runtime/controls.h"
#include "runtime/formloader.h"

#include <memory>
#include <optional>

class DesktopSignals;
class QCloseEvent;
class QMenu;
class QTimer;

namespace rt {
class Registry;
}

// What the program's command line gives the main window: files and folders to add once it is up.
struct WindowStart
{
    QStringList files;
    std::optional<int> threads; // --threads: the cores each file is encoded on
};

// The main window: the file list, the output folder and bit rate, and the batch driver. Its
// state lives in its controls (the list in List1/List2, the batch position in ZTbutton3's Tag,
// the settings in Check1, Text1 and the encoder), so every handler reads it back from there.
class Form1 : public rt::Form
{
    Q_OBJECT
public:
    // Loads the window's description, creating its hosted components through `registry`
    // (throws rt::ComError naming a component that cannot be created), then runs Form_Load.
    explicit Form1(const WindowStart &start = {}, const rt::Registry *registry = nullptr,
                   QWidget *parent = nullptr);
    ~Form1() override;

    const rt::FormLoader &loader() const { return m_loader; }
    // The batch profile the next batch follows.
    const BatchOptions &profile() const { return m_engine->options(); }

    // The window's path functions.
    static QString StripPath(const QString &T) { return ::StripPath(T); }
    static QString ParsePath(const QString &sPathIn) { return ::ParsePath(sPathIn); }
    static QString ParseFileName(const QString &sFileIn) { return ::ParseFileName(sFileIn); }
    static QString GetFileExt(const QString &sFileNameS) { return ::GetFileExt(sFileNameS); }

    void Form_Load();
    void Form_Unload();
    void ZTbutton1_Click(); // add files
    void ZTbutton2_Click(); // browse for the output folder
    void ZTbutton3_Click(); // start the batch
    void ZTbutton4_Click(); // about
    void ZTbutton5_Click(); // clear the list
    void List1_Click();
    void Check1_Click();
    void Opt_Click(int index);
    void Mp3_ActFrame(qint32 ActFrame, qint32 frameCount);
    void Timer1_Timer();
    // The settings window (转换设置), from the window's context menu or Ctrl+,.
    void ShowSettings();
    // The settings window's choices as the batch profile (the output folder and cores stay the
    // window's); the Bit比率 options show it when one of them can.
    // Returns what the encoder refused.
    QList<SettingFailure> ApplySettings(const BatchOptions &chosen, bool showInStatus = true);
    QMenu *contextMenu() const { return m_menu; }

    // Files from a drop or the command line, added as the add button adds them; `subfolders`
    // says where each was found below a folder that was given (kept below the output folder),
    // `sheets` the cue sheet given for it.
    void AddFiles(const QStringList &files, const QStringList &subfolders = {},
                  const QStringList &sheets = {});
    // A drop's or the command line's files, and one message naming what could not be added.
    void AddFoundFiles(const FoundFiles &found);
    // The command line's names: existing files and folders are added, the rest named once.
    void AddArgumentFiles(const QStringList &arguments);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    template <class T> T *need(const QString &name) const;
    rt::ListBox *List1() const { return need<rt::ListBox>(QStringLiteral("List1")); }
    rt::ListBox *List2() const { return need<rt::ListBox>(QStringLiteral("List2")); }
    rt::TextBox *Text1() const { return need<rt::TextBox>(QStringLiteral("Text1")); }
    rt::TextBox *Text2() const { return need<rt::TextBox>(QStringLiteral("Text2")); }
    rt::CheckBox *Check1() const { return need<rt::CheckBox>(QStringLiteral("Check1")); }
    rt::Frame *Frame3() const { return need<rt::Frame>(QStringLiteral("Frame3")); }
    rt::Label *Label2() const { return need<rt::Label>(QStringLiteral("Label2")); }
    rt::Label *Label3() const { return need<rt::Label>(QStringLiteral("Label3")); }
    rt::Label *LblTotal() const { return need<rt::Label>(QStringLiteral("LblTotal")); }
    rt::Label *LblActFrame() const { return need<rt::Label>(QStringLiteral("LblActFrame")); }
    rt::Label *Lab0() const { return need<rt::Label>(QStringLiteral("Lab0")); }
    QTimer *Timer1() const { return need<QTimer>(QStringLiteral("Timer1")); }
    rt::ComponentHost *ZTbutton(int n) const;

    void wireEvents();
    void wireDesktop(const QStringList &arguments);
    void wireSettings();
    void loadSavedSettings(QStringList *failures);
    void showBatchProgress(int position, qint32 frame, qint32 frameCount);
    void showContextMenu(const QPoint &at);
    void setButtonEnabled(int n, bool enabled);
    bool batchRunning() const;
    // The batch engine's steps, as the window shows them.
    void BatchFileStarting(int position);
    void BatchFileStarted(const QString &output);
    void BatchFileEnded(int position, const FileOutcome &outcome);
    void CompleteBatch();
    void setFolderControlsEnabled(bool enabled);

    const rt::Registry *m_registry;
    rt::FormLoader m_loader;
    const std::optional<int> m_threads; // the command line's, for the profile at load

    std::unique_ptr<BatchEngine> m_engine;
    QMenu *m_menu = nullptr;
    bool m_remembered = false; // the settings are kept for the next start
    DesktopSignals *m_desktop = nullptr;
    BatchProgress m_progress;
    int m_progressPermille = -1; // what the launcher shows, -1 for nothing
};
