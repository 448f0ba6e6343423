#include "converter/dialogs/modopen.h"
#include "converter/dialogs/module1.h"
#include "converter/window/msgbox.h"
#include "runtime/filename.h"
#include "tests/converter/modaldriver.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QChar Nul(u'\0');

QString touch(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    return path;
}

} // namespace

class TestDialogs final : public QObject
{
    Q_OBJECT

private slots:
    void splitSelection_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("highest");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("win one file") << QChar(u'\\') << QStringLiteral("C:\\Music\\a.wav") + Nul
                                      << 0 << QStringList{"C:\\Music\\a.wav"};
        QTest::newRow("win one file, old blank filling")
            << QChar(u'\\') << QStringLiteral("C:\\Music\\a.wav") + Nul + QString(20, u' ') << 0
            << QStringList{"C:\\Music\\a.wav"};
        QTest::newRow("win three files in a folder")
            << QChar(u'\\') << QStringList{"C:\\Music", "a.wav", "b.wav", "c.wav", "", ""}.join(Nul)
            << 2 << QStringList{"C:\\Music\\a.wav", "C:\\Music\\b.wav", "C:\\Music\\c.wav"};
        QTest::newRow("win drive root, no doubled separator")
            << QChar(u'\\') << QStringList{"C:\\", "a.wav", "b.wav", "", ""}.join(Nul) << 1
            << QStringList{"C:\\a.wav", "C:\\b.wav"};
        QTest::newRow("posix one file") << QChar(u'/') << QStringLiteral("/m/歌曲 1.wav") + Nul << 0
                                        << QStringList{"/m/歌曲 1.wav"};
        QTest::newRow("posix three files")
            << QChar(u'/') << QStringList{"/music", "a.wav", "b.wav", "c.wav", "", ""}.join(Nul)
            << 2 << QStringList{"/music/a.wav", "/music/b.wav", "/music/c.wav"};
        QTest::newRow("posix root")
            << QChar(u'/') << QStringList{"/", "a.wav", "b.wav", "", ""}.join(Nul) << 1
            << QStringList{"/a.wav", "/b.wav"};
    }
    void splitSelection()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, answer);
        QFETCH(int, highest);
        QFETCH(QStringList, files);
        SelectedFiles = QStringList{"left over", "from before", "x", "y", "z"};
        QCOMPARE(SplitSelection(answer, separator), highest);
        QCOMPARE(SelectedFiles, files); // replaced completely
    }

    // Far beyond the 255-byte answer of old: nothing is cut off.
    void splitFiftyFiles()
    {
        QStringList files;
        for (int i = 0; i < 50; ++i)
            files << QStringLiteral("/音乐/a long file name number %1.wav").arg(i);
        QCOMPARE(SplitSelection(SelectionAnswer(files)), 49);
        QCOMPARE(SelectedFiles, files);
    }

    // The answer's two forms, and files that share only an ancestor folder.
    void selectionAnswer_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("answer");
        QTest::newRow("one") << QStringList{"/m/a.wav"} << QStringLiteral("/m/a.wav") + Nul;
        QTest::newRow("two") << QStringList{"/m/a.wav", "/m/b.wav"}
                             << QStringList{"/m", "a.wav", "b.wav", "", ""}.join(Nul);
        QTest::newRow("root") << QStringList{"/a.wav", "/b.wav"}
                              << QStringList{"/", "a.wav", "b.wav", "", ""}.join(Nul);
        QTest::newRow("different folders")
            << QStringList{"/m/x/a.wav", "/m/y/b.wav"}
            << QStringList{"/m", "x/a.wav", "y/b.wav", "", ""}.join(Nul);
        QTest::newRow("a folder name that prefixes another")
            << QStringList{"/m/ab/a.wav", "/m/abc/b.wav"}
            << QStringList{"/m", "ab/a.wav", "abc/b.wav", "", ""}.join(Nul);
    }
    void selectionAnswer()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, answer);
        QCOMPARE(SelectionAnswer(files), answer);
        SplitSelection(answer);
        QCOMPARE(SelectedFiles, files);
    }

    void openDialogCancelled()
    {
        QStringList seen;
        modaldriver::answerFileDialog({}, &seen);
        QCOMPARE(ShowOpenDialog(nullptr, QStringLiteral("标题"), QStringLiteral("*.wav"), 1),
                 QString());
        QCOMPARE(seen.mid(0, 2), (QStringList{"标题", "声音 (*.wav)"}));
        QCOMPARE(seen.value(2),
                 QStringLiteral("所有支持的音频文件 (*.wav *.flac *.aif *.aiff *.aifc "
                                "*.ogg *.oga *.opus *.w64 *.rf64 *.caf *.au *.snd)"));
    }

    void openDialogChoosesFiles_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one") << QStringList{"a.wav"};
        QTest::newRow("three, unicode and blanks")
            << QStringList{"a.wav", "歌 曲.wav", "ünï cödé.wav"};
    }
    void openDialogChoosesFiles()
    {
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        QStringList files;
        for (const QString &name : names)
            files << touch(dir.filePath(name));
        modaldriver::answerFileDialog(files);
        const QString answer =
            ShowOpenDialog(nullptr, QStringLiteral("t"), QStringLiteral("*.wav"), 1);
        QCOMPARE(SplitSelection(answer), int(names.size()) - 1);
        QCOMPARE(QSet<QString>(SelectedFiles.begin(), SelectedFiles.end()),
                 QSet<QString>(files.begin(), files.end()));
    }

    // Qt's dialog does not list a name that is not UTF-8; pasted into its name box as a file
    // manager shows it (U+FFFD for each bad byte), it comes back as the file itself.
    void openDialogTakesByteNames()
    {
        QTemporaryDir dir;
        const auto clean = qScopeGuard([&] { testsupport::removeTree(dir.path()); });
        const QByteArray base = QFile::encodeName(dir.path());
        const QList<QByteArray> names = {"caf\xE9.wav", "\xD6\xD0\xCE\xC4.wav"};
        QStringList pasted;
        for (const QByteArray &name : names) {
            QVERIFY(testsupport::touchBytes(base + '/' + name));
            pasted << u'"' + QFile::decodeName(name) + u'"';
        }
        modaldriver::whenModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            dialog->setDirectory(dir.path());
            QTest::qWait(200); // pasted once the folder's listing is there, as a user would
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                ->setText(pasted.join(u' '));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        SplitSelection(ShowOpenDialog(nullptr, QStringLiteral("t"), QStringLiteral("*.wav"), 1));
        QList<QByteArray> chosen;
        for (const QString &file : SelectedFiles)
            chosen << rt::encodeFileName(file);
        QCOMPARE(chosen, (QList<QByteArray>{base + '/' + names[0], base + '/' + names[1]}));
    }

    void typedFileNames_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("one") << QStringLiteral("a.wav") << QStringList{"a.wav"};
        QTest::newRow("one with blanks") << QStringLiteral("歌 曲.wav") << QStringList{"歌 曲.wav"};
        QTest::newRow("quoted, in order") << QStringLiteral("\"b.wav\" \"a.wav\" \"c d.wav\"")
                                          << QStringList{"b.wav", "a.wav", "c d.wav"};
        QTest::newRow("empty") << QString() << QStringList{};
    }
    void typedFileNames()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, names);
        QCOMPARE(TypedFileNames(text), names);
    }

    // Typed names come back, every one and in the order typed, even those the filter hides
    // while a visible file is selected in the list.
    void openDialogKeepsEveryTypedName()
    {
        QTemporaryDir dir;
        const QStringList names{"a.wav", "b.mp3", "ab"};
        for (const QString &name : names)
            touch(dir.filePath(name));
        modaldriver::whenModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            dialog->setDirectory(dir.path());
            dialog->selectFile(dir.filePath(QStringLiteral("a.wav")));
            QTest::qWait(200); // the folder's listing arrives from a worker thread
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("\"a.wav\" \"b.mp3\" \"ab\""));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        SplitSelection(ShowOpenDialog(nullptr, QStringLiteral("t"), QStringLiteral("*.wav"), 1));
        QCOMPARE(SelectedFiles,
                 (QStringList{dir.filePath("a.wav"), dir.filePath("b.mp3"), dir.filePath("ab")}));
    }

    // A typed name that does not exist gets the dialog's "not found" message; it stays open.
    void openDialogSaysNotFound()
    {
        QTemporaryDir dir;
        touch(dir.filePath(QStringLiteral("a.wav")));
        modaldriver::MessageSeen seen;
        modaldriver::whenModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            dialog->setDirectory(dir.path());
            QTest::qWait(200); // typed once the folder's listing is there, as a user would
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("\"a.wav\" \"missing.wav\""));
            modaldriver::answerMessageBox(&seen);
            QMetaObject::invokeMethod(dialog, "accept");
            const bool stillOpen = dialog->isVisible();
            dialog->reject();
            QVERIFY2(stillOpen, "a missing file was accepted");
        });
        QCOMPARE(ShowOpenDialog(nullptr, QStringLiteral("t"), QStringLiteral("*.wav"), 1),
                 QString());
        QVERIFY(seen.shown);
        QVERIFY2(seen.text.contains(QStringLiteral("missing.wav")), qPrintable(seen.text));
    }

    void browseForFolder_data()
    {
        QTest::addColumn<QString>("choice"); // "" cancels; "<tmp>" a fresh folder
        QTest::addColumn<QString>("expected");
        QTest::newRow("cancel") << ""
                                << "";
        QTest::newRow("root keeps its separator") << "/"
                                                  << "/";
        QTest::newRow("folder without trailing separator") << "<tmp>"
                                                           << "<tmp>";
        QTest::newRow("typed with a trailing separator") << "<tmp>/"
                                                         << "<tmp>";
    }
    void browseForFolder()
    {
        QFETCH(QString, choice);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("输出 目录"));
        QVERIFY(QDir().mkpath(folder));
        choice.replace(QStringLiteral("<tmp>"), folder);
        expected.replace(QStringLiteral("<tmp>"), folder);
        QString title;
        modaldriver::answerFolderDialog(choice, &title);
        QCOMPARE(BrowseForFolder(nullptr, QStringLiteral("请选择")), expected);
        QCOMPARE(title, QStringLiteral("请选择"));
    }

    // Only existing folders can be confirmed: a file or a missing folder keeps the browser open.
    void browseRefusesNonFolders()
    {
        QTemporaryDir dir;
        const QString file = touch(dir.filePath(QStringLiteral("a.wav")));
        modaldriver::whenModal([file](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(file);
            QMetaObject::invokeMethod(dialog, "accept");
            const bool stillOpen = dialog->isVisible();
            dialog->reject();
            QVERIFY2(stillOpen, "a file was accepted as a folder");
        });
        QCOMPARE(BrowseForFolder(nullptr, QStringLiteral("t")), QString());
    }

    // A message box is wide enough for its whole title beside the title bar's icon and
    // buttons, however short its prompt.
    void messageBoxShowsItsWholeTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("empty list")
            << QStringLiteral("末添加文件到列表") << QStringLiteral("请添要转换的WAV文件");
        QTest::newRow("short prompt")
            << QStringLiteral("一个相当长的标题，比提示长得多的标题") << QStringLiteral("好");
    }

    void messageBoxShowsItsWholeTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, prompt);
        int width = 0;
        QFont font;
        modaldriver::whenModal([&](QWidget *modal) {
            width = modal->width();
            font = modal->font();
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                box->button(QMessageBox::Ok)->click();
            else
                modal->close();
        });
        MsgBox(nullptr, prompt, MsgExclamation, title);
        QVERIFY(modaldriver::waitForNoModal());
        font.setBold(true);
        const int titleWidth = QFontMetrics(font).horizontalAdvance(title);
        QVERIFY2(width >= titleWidth + 100,
                 qPrintable(QStringLiteral("%1 for a title of %2").arg(width).arg(titleWidth)));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
