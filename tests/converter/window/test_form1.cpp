#include "converter/encoder/mp3enc.h"
#include "converter/window/form1.h"
#include "converter/window/form2.h"
#include "converter/window/maker.h"
#include "tests/converter/formfixture.h"
#include "tests/converter/modaldriver.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>

using namespace formfixture;

class TestForm1 final : public Form1Test
{
    Q_OBJECT

    int statusAlignment() const { return c<rt::TextBox>(QStringLiteral("Text2"))->Alignment(); }

private slots:
    void initTestCase() { QVERIFY(m_environment.setUp()); }
    void init()
    {
        openWindow();
        QVERIFY(m_form->isActiveWindow());
    }
    void cleanup() { closeWindow(); }

    // Places in twips / 15, relative to the container.
    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("place");
        QTest::newRow("List1") << "List1"
                               << "Form1" << QRect(225, 34, 309, 242);
        QTest::newRow("Check1") << "Check1"
                                << "Form1" << QRect(238, 282, 114, 16);
        QTest::newRow("Frame3") << "Frame3"
                                << "Form1" << QRect(9, 216, 73, 113);
        QTest::newRow("Opt(2)") << "Opt(2)"
                                << "Frame3" << QRect(3, 43, 60, 13);
        QTest::newRow("Opt(6)") << "Opt(6)"
                                << "Frame3" << QRect(3, 95, 66, 12);
        QTest::newRow("Frame1") << "Frame1"
                                << "Form1" << QRect(8, 328, 526, 29);
        QTest::newRow("Text2") << "Text2"
                               << "Frame1" << QRect(5, 11, 515, 16);
        QTest::newRow("Frame2") << "Frame2"
                                << "Form1" << QRect(225, 283, 309, 44);
        QTest::newRow("Text1") << "Text1"
                               << "Frame2" << QRect(58, 18, 215, 18);
        QTest::newRow("List2") << "List2"
                               << "Form1" << QRect(230, 122, 290, 148);
        QTest::newRow("Image1") << "Image1"
                                << "Form1" << QRect(47, 29, 32, 32);
        QTest::newRow("Image3") << "Image3"
                                << "Frame3" << QRect(205, 108, 45, 20);
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, place);
        auto *widget = c<QWidget>(name);
        QVERIFY(widget);
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), place);
    }

    void windowAndInitialState()
    {
        QCOMPARE(m_form->windowTitle(), QStringLiteral("batchmp3 Ver 1.30.1"));
        QCOMPARE(m_form->size(), QSize(540, 360));
        QCOMPARE(status(), WelcomeText);
        QCOMPARE(statusAlignment(), 0);
        QCOMPARE(host(*m_form, QStringLiteral("ZTbutton3"))->widget()->geometry(),
                 QRect(96, 284, 116, 45));
        QCOMPARE(rt::tag(host(*m_form, QStringLiteral("ZTbutton3"))), QStringLiteral("0"));
        QCOMPARE(rt::tag(c<rt::Label>(QStringLiteral("Lab0"))), QStringLiteral("0"));
        QVERIFY(!buttonEnabled(*m_form, QStringLiteral("ZTbutton2")));
        QVERIFY(buttonEnabled(*m_form, QStringLiteral("ZTbutton3")));
        // To a screen reader: the icon-only browse button named, disabled and not focusable.
        QAccessibleInterface *browse = QAccessible::queryAccessibleInterface(
            host(*m_form, QStringLiteral("ZTbutton2"))->widget());
        QCOMPARE(browse->role(), QAccessible::Button);
        QCOMPARE(browse->text(QAccessible::Name), QStringLiteral("选择MP3输出目录"));
        QVERIFY(browse->state().disabled && !browse->state().focusable);
        for (const auto &[name, spoken] :
             {std::pair{"List1", "Wav文件"}, std::pair{"Text1", "Mp3目录"},
              std::pair{"Text2", "状态"}})
            QCOMPARE(QAccessible::queryAccessibleInterface(c<QWidget>(QString::fromLatin1(name)))
                         ->text(QAccessible::Name),
                     QString::fromUtf8(spoken));
        QVERIFY(c<QRadioButton>(QStringLiteral("Opt(5)"))->isChecked());
        QVERIFY(!c<rt::TextBox>(QStringLiteral("Text1"))->isEnabled());
        QVERIFY(c<rt::TextBox>(QStringLiteral("Text1"))->isReadOnly()); // never typed into
        for (const char *hidden : {"Label3", "LblTotal", "LblActFrame", "List2"})
            QVERIFY2(!c<QWidget>(QString::fromLatin1(hidden))->isVisible(), hidden);
        QVERIFY(!c<QTimer>(QStringLiteral("Timer1"))->isActive());
        QCOMPARE(c<QTimer>(QStringLiteral("Timer1"))->interval(), 300);
        // Image3 lies outside its frame, so none of it can be seen.
        auto *image3 = c<QWidget>(QStringLiteral("Image3"));
        QVERIFY(!image3->parentWidget()->rect().intersects(image3->geometry()));
        // Labels fit their text.
        auto *label1 = c<rt::Label>(QStringLiteral("Label1"));
        QCOMPARE(label1->size(), label1->sizeHint());
        // Label2 ends before Text1 begins: its colon is not under the box.
        auto *label2 = c<rt::Label>(QStringLiteral("Label2"));
        QCOMPARE(label2->size(), label2->sizeHint());
        QVERIFY2(label2->geometry().right() < c<QWidget>(QStringLiteral("Text1"))->x(),
                 qPrintable(QString::number(label2->geometry().right())));
    }

    // Load: the program's folder with a trailing separator, and the encoder's defaults.
    void load()
    {
        QString folder = QCoreApplication::applicationDirPath();
        if (!folder.endsWith(u'/'))
            folder += u'/';
        QCOMPARE(c<rt::TextBox>(QStringLiteral("Text1"))->Text(), folder);
        QCOMPARE(host(*m_form, QStringLiteral("Mp3"))->get(Mp3Enc::BitRate).toInt(), 128000);
        QCOMPARE(host(*m_form, QStringLiteral("Mp3"))->get(Mp3Enc::Threads).toInt(), 0);
    }

    // The program's --threads reaches the encoder when the window loads; one the encoder
    // refuses is skipped, the other settings still made, and the user told why.
    void loadWithThreadsOption_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QString>("told");
        QTest::newRow("taken") << 1 << 1 << QString();
        QTest::newRow("refused") << 999 << 0
                                 << QStringLiteral(
                                        "以下设置未能生效：\r\n线程数999：线程数999超出了0–"
                                        "256的范围");
    }
    void loadWithThreadsOption()
    {
        QFETCH(int, threads);
        QFETCH(int, kept);
        QFETCH(QString, told);
        m_form.reset();
        modaldriver::MessageSeen seen;
        if (!told.isEmpty())
            modaldriver::answerMessageBox(&seen);
        m_form = openForm1(WindowStart{{}, threads});
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(host(*m_form, QStringLiteral("Mp3"))->get(Mp3Enc::Threads).toInt(), kept);
        QCOMPARE(host(*m_form, QStringLiteral("Mp3"))->get(Mp3Enc::BitRate).toInt(), 128000);
        QCOMPARE(seen.text, told);
    }

    // Tab and Shift+Tab walk the window's tab positions, from ZTbutton3 round to it again:
    // disabled buttons take part, a disabled text box does not, and the option group is
    // entered at its selected member.
    void tabWalk_data()
    {
        QTest::addColumn<bool>("userFolder");
        QTest::addColumn<int>("option");
        QTest::addColumn<bool>("backwards");
        for (const bool backwards : {false, true}) {
            const char *way = backwards ? "Shift+Tab" : "Tab";
            QTest::addRow("%s, own folders, as loaded", way) << false << 5 << backwards;
            QTest::addRow("%s, one folder, 32 Kbps", way) << true << 0 << backwards;
        }
    }
    void tabWalk()
    {
        QFETCH(bool, userFolder);
        QFETCH(int, option);
        QFETCH(bool, backwards);
        auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
        if (userFolder)
            QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        if (option != 5) {
            QTest::mouseClick(c<QWidget>(QStringLiteral("Opt(%1)").arg(option)), Qt::LeftButton, {},
                              QPoint(5, 6));
            c<QWidget>(QStringLiteral("Opt(2)"))->setFocus(); // the focus left elsewhere in it
        }
        QStringList expected{"ZTbutton3", "ZTbutton1", "ZTbutton5", "List1", "Check1",
                             "ZTbutton2", "Opt",       "ZTbutton4", "Text2", "Text1"};
        expected.replace(expected.indexOf(QStringLiteral("Opt")),
                         QStringLiteral("Opt(%1)").arg(option));
        if (!userFolder)
            expected.removeOne(QStringLiteral("Text1"));
        if (backwards)
            std::reverse(expected.begin() + 1, expected.end());

        QHash<QWidget *, QString> names;
        for (const QString &name : m_form->loader().names()) {
            auto *host = m_form->loader().host(name);
            names.insert(host ? host->widget() : c<QWidget>(name), name);
        }
        host(*m_form, QStringLiteral("ZTbutton3"))->widget()->setFocus();
        QStringList walked;
        for (int step = 0; step <= expected.size(); ++step) {
            walked.append(names.value(QApplication::focusWidget(), QStringLiteral("?")));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab,
                            backwards ? Qt::ShiftModifier : Qt::NoModifier);
        }
        QCOMPARE(walked, expected + QStringList{expected.first()});
    }

    // A click on the disabled browse button takes the focus, rings and all, from the button
    // that had it, so a following Enter reaches the disabled button and does nothing.
    void clickOnDisabledButtonTakesFocus()
    {
        QWidget *about = host(*m_form, QStringLiteral("ZTbutton4"))->widget();
        QWidget *browse = host(*m_form, QStringLiteral("ZTbutton2"))->widget();
        about->setFocus();
        QVERIFY(!buttonEnabled(*m_form, QStringLiteral("ZTbutton2")));
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QCOMPARE(QApplication::focusWidget(), browse);
        const QString before = status();
        QTest::keyClick(browse, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(status(), before);
    }

    void addFilesAppendsAndCounts()
    {
        const QStringList first{touch(path(QStringLiteral("a.wav"))),
                                touch(path(QStringLiteral("b c.wav"))),
                                touch(path(QStringLiteral("歌曲.wav")))};
        QString hintWhileOpen;
        QStringList seen;
        modaldriver::whenModal([&](QWidget *) { hintWhileOpen = status(); });
        modaldriver::answerFileDialog(first, &seen);
        clickButton(*m_form, QStringLiteral("ZTbutton1"));
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(hintWhileOpen, QStringLiteral("添加WAV文件，可按扭Ctrl文件进行多选"));
        QCOMPARE(seen.value(0), QStringLiteral("请选择要转的声音文件(可按扭Ctrl文件进行多选)"));
        QCOMPARE(seen.value(1), QStringLiteral("声音 (*.wav)"));
        QCOMPARE(status(), QStringLiteral("已添加3个wav文件"));
        auto *list1 = c<rt::ListBox>(QStringLiteral("List1"));
        auto *list2 = c<rt::ListBox>(QStringLiteral("List2"));
        const QStringList added = items(list1);
        QCOMPARE(QSet<QString>(added.begin(), added.end()),
                 QSet<QString>(first.begin(), first.end()));
        QCOMPARE(items(list1), items(list2));

        // The same file again: appended, twice in both lists; the count is the new total.
        addFiles({first.first()});
        QCOMPARE(status(), QStringLiteral("已添加4个wav文件"));
        QCOMPARE(list2->ListCount(), 4);
        QCOMPARE(list1->List(3), first.first());
        QCOMPARE(items(list1), items(list2));

        // Cancelled: nothing added, the unchanged total still shown.
        addFiles({});
        QCOMPARE(status(), QStringLiteral("已添加4个wav文件"));
        QCOMPARE(list2->ListCount(), 4);
    }

    void cancelOnEmptyListShowsZero()
    {
        addFiles({});
        QCOMPARE(status(), QStringLiteral("已添加0个wav文件"));
    }

    void clearList()
    {
        addFiles({touch(path(QStringLiteral("a.wav")))});
        for (int round = 0; round < 2; ++round) { // the second clears an empty list
            c<rt::TextBox>(QStringLiteral("Text2"))->setAlignment(1);
            clickButton(*m_form, QStringLiteral("ZTbutton5"));
            QCOMPARE(status(), QStringLiteral("列表已清空"));
            QCOMPARE(statusAlignment(), 0);
            QCOMPARE(c<rt::ListBox>(QStringLiteral("List1"))->ListCount(), 0);
            QCOMPARE(c<rt::ListBox>(QStringLiteral("List2"))->ListCount(), 0);
        }
    }

    // A click on an entry, or code setting ListIndex, shows the full path right-aligned with
    // the caret at its end.
    void list1Click()
    {
        const QString a = touch(path(QStringLiteral("a.wav")));
        const QString b = touch(path(QStringLiteral("bb.wav")));
        addFiles({a});
        addFiles({b});
        auto *list1 = c<rt::ListBox>(QStringLiteral("List1"));
        auto *text2 = c<rt::TextBox>(QStringLiteral("Text2"));
        const QRect second = list1->visualItemRect(list1->item(1));
        QTest::mouseClick(list1->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(status(), b);
        QCOMPARE(statusAlignment(), 1);
        QCOMPARE(text2->cursorPosition(), int(b.size()));

        text2->setAlignment(0);
        list1->setListIndex(0);
        QCOMPARE(status(), a);
        QCOMPARE(statusAlignment(), 1);
        QCOMPARE(text2->cursorPosition(), int(a.size()));
    }

    // Moving the selection with the keys is a click too: the status line follows it.
    void list1Keys()
    {
        QStringList files;
        for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
            files << touch(path(QString::fromLatin1(name)));
        addFiles(files);
        auto *list1 = c<rt::ListBox>(QStringLiteral("List1"));
        auto *text2 = c<rt::TextBox>(QStringLiteral("Text2"));
        QTest::mouseClick(list1->viewport(), Qt::LeftButton, {},
                          list1->visualItemRect(list1->item(0)).center());
        QCOMPARE(status(), files[0]);
        const struct
        {
            Qt::Key key;
            int row;
        } steps[] = {{Qt::Key_Down, 1}, {Qt::Key_End, 3},      {Qt::Key_Up, 2},
                     {Qt::Key_Home, 0}, {Qt::Key_PageDown, 3}, {Qt::Key_PageUp, 0}};
        for (const auto &step : steps) {
            text2->setText(QString());
            text2->setAlignment(0);
            QTest::keyClick(list1, step.key);
            QCOMPARE(list1->ListIndex(), step.row);
            QCOMPARE(status(), files[step.row]);
            QCOMPARE(statusAlignment(), 1);
            QCOMPARE(text2->cursorPosition(), int(files[step.row].size()));
        }
        // A key that moves nothing is no click.
        text2->setText(QString());
        QTest::keyClick(list1, Qt::Key_Up);
        QCOMPARE(status(), QString());
    }

    void check1OnAndOff()
    {
        auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
        auto *text1 = c<rt::TextBox>(QStringLiteral("Text1"));
        auto *label2 = c<rt::Label>(QStringLiteral("Label2"));
        const QString folder = text1->Text();

        QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        QCOMPARE(check1->Value(), 1);
        QCOMPARE(label2->ForeColor(), quint32(0x00FFFFFF));
        QVERIFY(text1->isEnabled());
        QVERIFY(buttonEnabled(*m_form, QStringLiteral("ZTbutton2")));
        QVERIFY(text1->hasFocus());
        QCOMPARE(status(), QStringLiteral("MP3输出目录为：") + folder);
        QCOMPARE(statusAlignment(), 0);

        QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        QCOMPARE(check1->Value(), 0);
        QVERIFY(c<rt::TextBox>(QStringLiteral("Text2"))->hasFocus());
        QCOMPARE(label2->ForeColor(), quint32(0x00C0C0C0));
        QVERIFY(!text1->isEnabled());
        QVERIFY(!buttonEnabled(*m_form, QStringLiteral("ZTbutton2")));
        QCOMPARE(text1->Text(), folder);
        QCOMPARE(status(), QStringLiteral("MP3输出目录为默认路径(与wav同一目录)"));

        // A screen reader's toggle is a click: the same handler runs.
        QAccessible::queryAccessibleInterface(check1)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QTRY_COMPARE(check1->Value(), 1);
        QVERIFY(buttonEnabled(*m_form, QStringLiteral("ZTbutton2")));
        QCOMPARE(status(), QStringLiteral("MP3输出目录为：") + folder);
    }

    void browseForFolder()
    {
        auto *check1 = c<rt::CheckBox>(QStringLiteral("Check1"));
        auto *text1 = c<rt::TextBox>(QStringLiteral("Text1"));
        QTest::mouseClick(check1, Qt::LeftButton, {}, QPoint(6, check1->height() / 2));
        QVERIFY(buttonEnabled(*m_form, QStringLiteral("ZTbutton2")));
        const QString folder = path(QStringLiteral("输出"));
        QVERIFY(QDir().mkpath(folder));

        QString title;
        modaldriver::answerFolderDialog(folder, &title);
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(title, QStringLiteral("请选择您需要保存Mp3的地址"));
        QCOMPARE(text1->Text(), folder + u'/');
        QCOMPARE(status(), QStringLiteral("MP3输出目录为：") + folder + u'/');

        // The root already ends with the separator.
        modaldriver::answerFolderDialog(QStringLiteral("/"));
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(text1->Text(), QStringLiteral("/"));
        QCOMPARE(status(), QStringLiteral("MP3输出目录为：/"));

        // Cancelled: the folder chosen before stays.
        modaldriver::answerFolderDialog(QString());
        clickButton(*m_form, QStringLiteral("ZTbutton2"));
        QVERIFY(modaldriver::waitForNoModal());
        QCOMPARE(text1->Text(), QStringLiteral("/"));
        QCOMPARE(status(), QStringLiteral("MP3输出目录为：/"));
    }

    void bitRateOptions_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("bitRate");
        const int rates[] = {32000, 56000, 64000, 96000, 112000, 128000, 256000};
        QTest::addColumn<bool>("reader"); // chosen through a screen reader's toggle
        for (int k = 0; k < 7; ++k)
            QTest::addRow("Opt(%d)", k) << k << rates[k] << false;
        for (int k : {0, 6})
            QTest::addRow("Opt(%d) by a screen reader", k) << k << rates[k] << true;
    }
    void bitRateOptions()
    {
        QFETCH(int, index);
        QFETCH(int, bitRate);
        QFETCH(bool, reader);
        // Start from another option so every row is a real change.
        auto *other = c<QRadioButton>(QStringLiteral("Opt(%1)").arg(index == 0 ? 1 : 0));
        QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(6, other->height() / 2));
        c<rt::TextBox>(QStringLiteral("Text2"))->setAlignment(1);
        auto *option = c<QRadioButton>(QStringLiteral("Opt(%1)").arg(index));
        if (reader)
            QAccessible::queryAccessibleInterface(option)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
        else
            QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
        QTRY_VERIFY(option->isChecked());
        QCOMPARE(host(*m_form, QStringLiteral("Mp3"))->get(Mp3Enc::BitRate).toInt(), bitRate);
        QCOMPARE(status(), QStringLiteral("MP3格式的Bit比率为:%1").arg(bitRate));
        QCOMPARE(statusAlignment(), 1); // left as it was
    }

    // Each option circle fits its row and Frame3, apart from the next one; the texts stay
    // where the application style puts them.
    void bitRateCirclesFitTheirRows()
    {
        auto *frame3 = c<QGroupBox>(QStringLiteral("Frame3"));
        QStyleOptionGroupBox box;
        box.initFrom(frame3);
        box.rect = frame3->rect();
        box.subControls = QStyle::SC_GroupBoxFrame;
        const QRect frame = frame3->style()->subControlRect(QStyle::CC_GroupBox, &box,
                                                            QStyle::SC_GroupBoxFrame, frame3);
        QRect previous;
        for (int k = 0; k < 7; ++k) {
            auto *option = c<QRadioButton>(QStringLiteral("Opt(%1)").arg(k));
            QStyleOptionButton opt;
            opt.initFrom(option);
            opt.text = option->text();
            const QRect circle = option->style()
                                     ->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, option)
                                     .translated(option->pos());
            QVERIFY2(circle.height() < option->height(), qPrintable(QString::number(k)));
            QVERIFY(circle.top() >= option->y() && circle.bottom() <= option->geometry().bottom());
            QVERIFY(circle.left() > frame.left() && circle.bottom() < frame.bottom());
            QVERIFY2(!circle.intersects(previous), qPrintable(QString::number(k)));
            previous = circle;
            const QRect text =
                option->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, option);
            QCOMPARE(text.left(), QApplication::style()
                                      ->subElementRect(QStyle::SE_RadioButtonContents, &opt, option)
                                      .left());
        }
    }

    // About: the info line, then the modal About window that its button closes.
    void about()
    {
        bool sawForm2 = false;
        QString description;
        QString welcome;
        QString infoWhileOpen;
        bool ownerBlocked = false;
        bool descriptionFits = false;
        QString linkText;
        bool handCursor = false;
        modaldriver::whenModal([&](QWidget *modal) {
            auto *about = qobject_cast<Form2 *>(modal);
            if (!about) {
                modal->close();
                return;
            }
            sawForm2 = true;
            infoWhileOpen = status();
            ownerBlocked =
                QApplication::activeModalWidget() == about && about->parentWidget() == m_form.get();
            auto *label1 = about->loader().control<QLabel>(QStringLiteral("Label1"));
            description = label1->text();
            descriptionFits = label1->heightForWidth(label1->width()) <= label1->height();
            welcome = about->loader().control<QLabel>(QStringLiteral("Label3"))->text();
            auto *link = about->loader().control<QLabel>(QStringLiteral("Label2"));
            linkText = link->text();
            handCursor = link->cursor().shape() == Qt::BitmapCursor;
            QWidget *ok = about->loader().host(QStringLiteral("ZTbutton1"))->widget();
            QTest::mouseClick(ok, Qt::LeftButton, {}, ok->rect().center());
        });
        clickButton(*m_form, QStringLiteral("ZTbutton4"));
        QVERIFY(modaldriver::waitForNoModal());
        QVERIFY(sawForm2);
        QVERIFY(ownerBlocked);
        QCOMPARE(infoWhileOpen, InfoLine);
        QCOMPARE(status(), InfoLine); // kept after the window closes
        QCOMPARE(c<rt::TextBox>(QStringLiteral("Text2"))->cursorPosition(), 0); // from its start
        QCOMPARE(welcome, QStringLiteral("-欢迎使用-"));
        QVERIFY(description.startsWith(QStringLiteral("batchmp3 v1.30.1\r\n\r\n    是Zanto联邦")));
        QVERIFY(description.endsWith(QStringLiteral("使用方便。\r\n")));
        QVERIFY2(descriptionFits, "the description is cut off");
        QCOMPARE(linkText, QStringLiteral("访问主页： WWW.EXAMPLE.COM"));
        QVERIFY(handCursor);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
