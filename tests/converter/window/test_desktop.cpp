// What the main window takes from the desktop: files dropped on the list, files on the command
// line, and where its output folder starts when it is installed.
#include "converter/app/commandline.h"
#include "converter/files/audiofiles.h"
#include "converter/startup/installpaths.h"
#include "converter/window/form1.h"
#include "runtime/filename.h"
#include "tests/converter/formfixture.h"
#include "tests/converter/modaldriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace formfixture;

namespace {

QList<QUrl> urls(const QStringList &paths)
{
    QList<QUrl> all;
    for (const QString &path : paths)
        all << QUrl::fromLocalFile(path);
    return all;
}

// What a file manager puts on the clipboard for a drag: the names' bytes, percent-encoded.
QByteArray uriList(const QList<QByteArray> &paths)
{
    QByteArray list;
    for (const QByteArray &path : paths)
        list += "file://" + path.toPercentEncoding("/") + "\r\n";
    return list;
}

QList<QByteArray> encoded(const QStringList &paths)
{
    QList<QByteArray> all;
    for (const QString &path : paths)
        all << rt::encodeFileName(path);
    return all;
}

// Root reads every folder; as nobody, for a while, the permission bits count.
struct Unprivileged
{
    Unprivileged() : m_was(::geteuid()) { m_ok = m_was != 0 || ::seteuid(65534) == 0; }
    ~Unprivileged()
    {
        if (m_was == 0)
            (void)!::seteuid(0);
    }
    uid_t m_was;
    bool m_ok;
};

struct DropOutcome
{
    bool enterAccepted = false;
    bool dropAccepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// A file manager's drag over the list and its drop, offering copy or move as file managers do.
DropOutcome dragAndDrop(QWidget *target, const QList<QUrl> &dropped, const QByteArray &rawList = {})
{
    DropOutcome outcome;
    QMimeData data;
    if (rawList.isEmpty())
        data.setUrls(dropped);
    else
        data.setData(QStringLiteral("text/uri-list"), rawList);
    const QPoint at = target->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QCoreApplication::sendEvent(target, &enter);
    outcome.enterAccepted = enter.isAccepted();
    QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    move.setAccepted(false);
    QCoreApplication::sendEvent(target, &move);
    outcome.enterAccepted = outcome.enterAccepted && move.isAccepted();
    QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(Qt::MoveAction);
    drop.setAccepted(false);
    QCoreApplication::sendEvent(target, &drop);
    outcome.dropAccepted = drop.isAccepted();
    outcome.action = drop.dropAction();
    return outcome;
}

} // namespace

class TestDesktop final : public Form1Test
{
    Q_OBJECT

    rt::ListBox *list1() const { return c<rt::ListBox>(QStringLiteral("List1")); }
    rt::ListBox *list2() const { return c<rt::ListBox>(QStringLiteral("List2")); }

private slots:
    void initTestCase() { QVERIFY(m_environment.setUp()); }
    void init() { openWindow(); }
    void cleanup() { closeWindow(); }

    // Audio files and a folder tree dropped on the list are added as the add button adds them:
    // files in the order dropped, a folder's audio files (any case) sorted by path, anything
    // else (an MP3 too) ignored; always as a copy, whatever the file manager proposed.
    void dropFilesAndFolders()
    {
        const QString one = touch(path(QStringLiteral("一 one.wav")));
        const QString loud = touch(path(QStringLiteral("LOUD.WAV")));
        const QString other = touch(path(QStringLiteral("notes.txt")));
        const QString tree = path(QStringLiteral("专辑 tree"));
        const QStringList inTree = {
            touch(tree + QStringLiteral("/a.wav")),
            touch(tree + QStringLiteral("/b.Wav")),
            touch(tree + QStringLiteral("/c.flac")),
            touch(tree + QStringLiteral("/cd 2/01.wav")),
            touch(tree + QStringLiteral("/cd 2/deep/x.wAV")),
            touch(tree + QStringLiteral("/z.wav")),
        };
        touch(tree + QStringLiteral("/cover.jpg"));
        touch(tree + QStringLiteral("/cd 2/song.mp3"));
        touch(tree + QStringLiteral("/wav")); // the ending, not the name

        list1()->AddItem(QStringLiteral("/earlier.wav"));
        list2()->AddItem(QStringLiteral("/earlier.wav"));
        const DropOutcome outcome =
            dragAndDrop(list1()->viewport(), urls({loud, other, tree, one})
                                                 << QUrl("https://example.com/x.wav"));
        QVERIFY(outcome.enterAccepted);
        QVERIFY(outcome.dropAccepted);
        QCOMPARE(outcome.action, Qt::CopyAction);

        const QStringList expected =
            QStringList{QStringLiteral("/earlier.wav"), loud} + inTree + QStringList{one};
        QCOMPARE(items(list1()), expected);
        QCOMPARE(items(list2()), expected);
        QCOMPARE(status(), QStringLiteral("已添加%1个wav文件").arg(expected.size()));
        QCOMPARE(c<rt::TextBox>(QStringLiteral("Text2"))->Alignment(), 0);
        QVERIFY(QFile::exists(one) && QFile::exists(tree + QStringLiteral("/a.wav")));
    }

    // Nothing a WAV list can use: the cursor says no, and a drop changes nothing.
    void dropOfNothingUsable()
    {
        const QString other = touch(path(QStringLiteral("song.mp3")));
        const DropOutcome outcome =
            dragAndDrop(list1()->viewport(), urls({other}) << QUrl("https://example.com/a.wav"));
        QVERIFY(!outcome.enterAccepted);
        QVERIFY(!outcome.dropAccepted);
        QCOMPARE(list1()->ListCount(), 0);
    }

    // During a batch the list does not change: the drag is refused and a drop adds nothing.
    void dropRefusedDuringBatch()
    {
        const QString first = path(QStringLiteral("first.wav"));
        QVERIFY(testsupport::writeWav(first, 44100 * 60));
        m_form->AddFiles({first});
        clickButton(*m_form, QStringLiteral("ZTbutton3"));
        QVERIFY(c<QTimer>(QStringLiteral("Timer1"))->isActive());

        const QString later = touch(path(QStringLiteral("later.wav")));
        const DropOutcome outcome = dragAndDrop(list1()->viewport(), urls({later}));
        QVERIFY(!outcome.enterAccepted);
        QVERIFY(!outcome.dropAccepted);
        QCOMPARE(items(list1()), QStringList{first});
        QCOMPARE(items(list2()), QStringList{first});

        m_form->close(); // stops the encoder
        QVERIFY(!c<QTimer>(QStringLiteral("Timer1"))->isActive());
    }

    // "batchmp3 a.wav "b b.wav" gone.wav folder": existing files and folders are added once the
    // window is up, the names that are no file are named in one message.
    void commandLineFiles()
    {
        const QString a = touch(path(QStringLiteral("a.wav")));
        const QString bb = touch(path(QStringLiteral("b b.wav")));
        const QString folder = path(QStringLiteral("文件夹"));
        const QString inFolder = touch(folder + QStringLiteral("/c.WAV"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir->path()));

        modaldriver::MessageSeen seen;
        modaldriver::answerMessageBox(&seen);
        m_form->AddArgumentFiles({QStringLiteral("a.wav"), bb, QStringLiteral("不存在.wav"),
                                  QStringLiteral("文件夹"), QStringLiteral("gone/x.wav")});
        QDir::setCurrent(previous);
        QVERIFY(modaldriver::waitForNoModal());

        QCOMPARE(items(list1()), (QStringList{a, bb, inFolder}));
        QCOMPARE(items(list2()), (QStringList{a, bb, inFolder}));
        QCOMPARE(status(), QStringLiteral("已添加3个wav文件"));
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("batchmp3"));
        QCOMPARE(seen.icon, int(QMessageBox::Warning));
        QVERIFY2(seen.text.contains(QStringLiteral("不存在.wav")) &&
                     seen.text.contains(QStringLiteral("gone/x.wav")) &&
                     !seen.text.contains(QStringLiteral("a.wav")),
                 qPrintable(seen.text));
    }

    // All names exist: no message at all.
    void commandLineWithoutMissingNames()
    {
        const QString a = touch(path(QStringLiteral("a.wav")));
        m_form->AddArgumentFiles({a});
        QTest::qWait(100);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(items(list1()), QStringList{a});
        QCOMPARE(status(), QStringLiteral("已添加1个wav文件"));
    }

    // Text1 starts in the program's folder in a build folder, in the music folder (or home)
    // when installed or when the program's folder is not the user's to write.
    void outputFolderDefault()
    {
        const QString home = path(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home));
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME")
                               : qputenv("XDG_CONFIG_HOME", oldConfig);
        });

        const QString build = path(QStringLiteral("build/bin"));
        touch(build + QStringLiteral("/regsvr32"));
        QVERIFY(QFile::setPermissions(build + QStringLiteral("/regsvr32"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(DefaultOutputFolder(build), build);
        QVERIFY(!RunsFromInstallPrefix(build));

        const QString prefix = path(QStringLiteral("prefix"));
        touch(prefix + QStringLiteral("/bin/batchmp3"));
        const QString tool = touch(prefix + QStringLiteral("/libexec/batchmp3/regsvr32"));
        QVERIFY(
            QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString bin = prefix + QStringLiteral("/bin");
        QVERIFY(RunsFromInstallPrefix(bin));
        QCOMPARE(DefaultOutputFolder(bin), home); // no music folder yet
        QVERIFY(QDir().mkpath(home + QStringLiteral("/Music")));
        QCOMPARE(DefaultOutputFolder(bin), home + QStringLiteral("/Music"));

        // The user's own music folder, as the desktop names it.
        QVERIFY(QDir().mkpath(home + QStringLiteral("/.config")));
        QVERIFY(QDir().mkpath(home + QStringLiteral("/音乐")));
        QFile dirs(home + QStringLiteral("/.config/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_MUSIC_DIR=\"$HOME/\xe9\x9f\xb3\xe4\xb9\x90\"\n");
        dirs.close();
        QCOMPARE(DefaultOutputFolder(bin), home + QStringLiteral("/音乐"));
    }

    // A program folder the user may not write to, as in a system-wide install.
    void outputFolderNotWritable()
    {
        const QString home = path(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(home));
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home));
        const auto restore = qScopeGuard([&] { qputenv("HOME", oldHome); });

        const QString locked = path(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        const auto unlock = qScopeGuard([&] {
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (QFileInfo(locked).isWritable())
            QSKIP("running with rights that write anywhere (root)");
        QCOMPARE(DefaultOutputFolder(locked), home);
    }

    // Names that are not UTF-8 (Latin-1, GBK, in a folder's name too) reach the list as their
    // bytes from argv, a drop, a dropped folder and a folder on the command line; the visible
    // list shows them readably.
    void byteNamesFromEveryRoute()
    {
        const QByteArray base = QFile::encodeName(path(QStringLiteral("字节")));
        const auto clean =
            qScopeGuard([&] { testsupport::removeTree(path(QStringLiteral("字节"))); });
        QVERIFY(QDir().mkpath(path(QStringLiteral("字节"))));
        const QByteArray folder = base + "/\xD6\xD0\xCE\xC4";
        const QList<QByteArray> files = {base + "/caf\xE9.wav", folder + "/\xB8\xE8.WAV"};
        QVERIFY(::mkdir(folder.constData(), 0755) == 0);
        for (const QByteArray &file : files)
            QVERIFY(testsupport::touchBytes(file));
        const QStringList shown = {rt::displayFileName(rt::decodeFileName(files[0])),
                                   rt::displayFileName(rt::decodeFileName(files[1]))};
        QVERIFY(shown[0].endsWith(QStringLiteral("/caf\\xE9.wav")));
        const auto verifyAdded = [&] {
            QCOMPARE(encoded(items(list2())), files);
            QCOMPARE(items(list1()), shown);
            QCOMPARE(status(), QStringLiteral("已添加2个wav文件"));
        };

        QByteArray program = "batchmp3", file = files[0], dir = folder;
        char *argv[] = {program.data(), file.data(), dir.data()};
        m_form->AddArgumentFiles(ReadCommandLine(3, argv).paths);
        verifyAdded();

        clickButton(*m_form, QStringLiteral("ZTbutton5"));
        QVERIFY(dragAndDrop(list1()->viewport(), {}, uriList({files[0], folder})).dropAccepted);
        verifyAdded();
        clickButton(*m_form, QStringLiteral("ZTbutton5"));
        QVERIFY(dragAndDrop(list1()->viewport(), {}, uriList(files)).dropAccepted);
        verifyAdded();
    }

    // A pipe, a device, a link to one and a folder we may not read add nothing, and the message
    // says what each is, whether given on the command line or dropped.
    void specialFilesNamed()
    {
        const QString fifo = path(QStringLiteral("管道.wav"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        const QString zero = path(QStringLiteral("zero.wav"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        const QString a = touch(path(QStringLiteral("a.wav")));
        const QString locked = path(QStringLiteral("锁住"));
        touch(locked + QStringLiteral("/inside.wav"));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
        const auto unlock =
            qScopeGuard([&] { ::chmod(QFile::encodeName(locked).constData(), 0755); });

        FoundFiles found;
        {
            Unprivileged nobody;
            QVERIFY(nobody.m_ok);
            found = FilesFromArguments({fifo, QStringLiteral("zero.wav"), QStringLiteral("锁住"),
                                        QStringLiteral("/dev/null"), a, QStringLiteral("无.wav")},
                                       m_dir->path());
        }
        QCOMPARE(found.files, QStringList{a});
        QCOMPARE(found.notRegular,
                 (QStringList{fifo, QStringLiteral("zero.wav"), QStringLiteral("/dev/null")}));
        QCOMPARE(found.unreadable, QStringList{QStringLiteral("锁住")});
        QCOMPARE(found.missing, QStringList{QStringLiteral("无.wav")});

        modaldriver::MessageSeen seen;
        modaldriver::answerMessageBox(&seen);
        m_form->AddFoundFiles(found);
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(seen.text,
                 QStringLiteral("以下文件不存在，未添加到列表：\n无.wav\n\n"
                                "以下不是普通文件（管道、设备等），未添加到列表：\n") +
                     fifo +
                     QStringLiteral("\nzero.wav\n/dev/null\n\n"
                                    "没有权限读取以下文件夹，其中的文件未添加到列表：\n锁住"));
        QCOMPARE(items(list2()), QStringList{a});

        // Dropped, a pipe is named too; the drag is taken, as it carries a .wav name.
        modaldriver::answerMessageBox(&seen);
        QVERIFY(dragAndDrop(list1()->viewport(), urls({fifo})).dropAccepted);
        QVERIFY(modaldriver::waitForNoModal());
        QVERIFY2(seen.text.contains(QStringLiteral("不是普通文件")) && seen.text.contains(fifo),
                 qPrintable(seen.text));
        QCOMPARE(items(list2()), QStringList{a});
    }

    // A folder link that points back up is not followed round and round.
    void folderLinksAreNotFollowed()
    {
        const QString tree = path(QStringLiteral("tree"));
        const QString a = touch(tree + QStringLiteral("/sub/a.wav"));
        QVERIFY(QFile::link(tree, tree + QStringLiteral("/sub/loop")));
        QCOMPARE(AudioFilesInFolder(tree), QStringList{a});
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
