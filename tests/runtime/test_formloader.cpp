#include "runtime/comerror.h"
#include "runtime/controls.h"
#include "runtime/formloader.h"
#include "tests/support/testsupport.h"

#include <QAccessible>
#include <QDir>
#include <QSignalSpy>
#include <QtTest>

namespace {

const char Description[] = R"({
  "name": "FormT", "caption": "测试窗口", "clientWidth": 6000, "clientHeight": 3000,
  "border": "fixed", "backColor": "0x00DE795A", "picture": "back.png",
  "icon": ["back.png"],
  "controls": [
    {"name": "Text1", "kind": "TextBox", "container": "Frame2", "left": 870, "top": 270,
     "width": 3225, "height": 270, "text": "app.path", "enabled": false, "locked": true,
     "backColor": "0x00E78E6B", "tabIndex": 3},
    {"name": "Frame2", "kind": "Frame", "left": 150, "top": 1500, "width": 4635, "height": 660,
     "tabIndex": 2},
    {"name": "Label1", "kind": "Label", "left": 300, "top": 150, "width": 15, "height": 15,
     "caption": "Wav文件：", "foreColor": "0x0000FFFF", "autoSize": true, "tag": "7"},
    {"name": "List1", "kind": "ListBox", "left": 1500, "top": 150, "width": 3000, "height": 900,
     "toolTip": "WAV文件列表", "tabIndex": 1},
    {"name": "Opt", "index": 1, "kind": "OptionButton", "container": "Frame2", "left": 45,
     "top": 30, "width": 900, "height": 180, "caption": "56 Kbps", "value": true},
    {"name": "Timer1", "kind": "Timer", "interval": 300, "enabled": false},
    {"name": "Counter1", "kind": "Component", "class": "TestLib.Counter", "left": 4800,
     "top": 150, "width": 900, "height": 300, "tag": "0", "tabIndex": 0,
     "bag": {"_extentx": 900, "caption": "从袋中", "value": 12}},
    {"name": "Counter2", "kind": "Component", "class": "testlib.counter", "left": 4800,
     "top": 600, "width": 900, "height": 300}
  ]
})";

QString writeDescription(const QString &dir, const QByteArray &json)
{
    QImage back(20, 10, QImage::Format_RGB32);
    back.fill(Qt::red);
    back.save(QDir(dir).filePath(QStringLiteral("back.png")));
    const QString path = QDir(dir).filePath(QStringLiteral("formt.json"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(json);
    return path;
}

} // namespace

class TestFormLoader final : public QObject
{
    Q_OBJECT

private slots:
    void buildsEveryKindInPlace()
    {
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        rt::Form form;
        rt::FormLoader loader;
        loader.load(writeDescription(home.path(), Description), &form);

        QCOMPARE(form.windowTitle(), QStringLiteral("测试窗口"));
        QCOMPARE(form.size(), QSize(400, 200));
        QCOMPARE(rt::bgrFromColor(form.palette().color(QPalette::Window)), 0x00DE795Au);
        QVERIFY(!form.windowIcon().isNull());

        auto *text = loader.control<rt::TextBox>(QStringLiteral("Text1"));
        auto *frame = loader.control<rt::Frame>(QStringLiteral("Frame2"));
        QVERIFY(text && frame);
        QCOMPARE(text->parentWidget(), frame); // listed before its container, still inside it
        QCOMPARE(text->geometry(), QRect(58, 18, 215, 18));
        QVERIFY(!text->isEnabled() && text->isReadOnly());
        QCOMPARE(rt::bgrFromColor(text->palette().color(QPalette::Base)), 0x00E78E6Bu);

        auto *label = loader.control<rt::Label>(QStringLiteral("Label1"));
        QCOMPARE(label->pos(), QPoint(20, 10));
        QVERIFY(label->width() > 1); // sized to its text, not to the description's 1 x 1
        QCOMPARE(label->ForeColor(), 0x0000FFFFu);
        QCOMPARE(rt::tag(label), QStringLiteral("7"));

        auto *option = loader.control<rt::OptionButton>(QStringLiteral("Opt(1)"));
        QVERIFY(option && option->isChecked());
        QCOMPARE(option->Index(), 1);
        QVERIFY(!loader.control<QTimer>(QStringLiteral("Timer1"))->isActive());
        QCOMPARE(loader.control<QTimer>(QStringLiteral("Timer1"))->interval(), 300);

        rt::ComponentHost *c1 = loader.host(QStringLiteral("Counter1"));
        rt::ComponentHost *c2 = loader.host(QStringLiteral("Counter2"));
        QCOMPARE(c1->get(1).toInt(), 12); // from the bag, names in lower case
        QCOMPARE(qobject_cast<QLabel *>(c1->widget())->text(), QStringLiteral("从袋中"));
        QCOMPARE(qobject_cast<QLabel *>(c2->widget())->text(), QStringLiteral("Counter2")); // new
        QCOMPARE(c1->widget()->geometry(), QRect(320, 10, 60, 20));
        QCOMPARE(rt::tag(c1), QStringLiteral("0"));

        // Tab order follows the tab positions.
        QWidget *afterCounter = c1->widget()->nextInFocusChain();
        QVERIFY2(afterCounter == loader.control<QWidget>(QStringLiteral("List1")),
                 qPrintable(QString::fromLatin1(afterCounter->metaObject()->className()) +
                            afterCounter->objectName()));

        // Disabling a frame disables what is inside.
        option->setEnabled(true);
        frame->setEnabled(false);
        QVERIFY(!option->isEnabled());
    }

    void hostedEventsReachTheirHandlers()
    {
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        rt::Form form;
        rt::FormLoader loader;
        loader.load(writeDescription(home.path(), Description), &form);
        rt::ComponentHost *c1 = loader.host(QStringLiteral("Counter1"));
        int seen = 0;
        c1->onEvent(1, [&](QVariantList &args) {
            seen = args.at(0).toInt();
            args[1] = true; // cancel
        });
        c1->put(1, 30);
        QCOMPARE(seen, 30);
        QCOMPARE(c1->get(1).toInt(), 12);
    }

    void listIndexWritesRaiseClick()
    {
        rt::ListBox list;
        QSignalSpy clicks(&list, &rt::ListBox::Click);
        list.AddItem(QStringLiteral("/a/1.wav"));
        list.AddItem(QStringLiteral("/a/2.wav"));
        list.setListIndex(1);
        list.setListIndex(1); // the same index again still clicks
        QCOMPARE(clicks.size(), 2);
        QCOMPARE(list.Text(), QStringLiteral("/a/2.wav"));
        QCOMPARE(list.ListCount(), 2);
        list.Clear();
        QCOMPARE(list.ListIndex(), -1);
        QCOMPARE(list.Text(), QString());
    }

    // What screen readers and dense screens get from a description: pictures and controls marked
    // decorative are left out of the window's accessible children; a picture with name@2x.png
    // beside it is drawn from that on a 2x screen (CTest also runs this at 1.5 and 2) and the list's
    // frame shows on every side at any scale.
    void readersAndScales()
    {
        QTemporaryDir dir;
        QImage one(8, 8, QImage::Format_RGB32), two(16, 16, QImage::Format_RGB32);
        one.fill(Qt::red);
        two.fill(Qt::red);
        for (int x = 0; x < 16; ++x)
            two.setPixel(x, 3, qRgb(0, 0, 255)); // a line only the sharper drawing has
        QVERIFY(one.save(dir.filePath(QStringLiteral("p.png"))));
        QVERIFY(two.save(dir.filePath(QStringLiteral("p@2x.png"))));
        const QByteArray json = R"({"name": "FormS", "caption": "s", "clientWidth": 6000,
            "clientHeight": 2000, "border": "fixed", "backColor": "0x00DE795A", "controls": [
            {"name": "Image1", "kind": "Image", "left": 150, "top": 150, "width": 120,
             "height": 120, "picture": "p.png"},
            {"name": "Lab0", "kind": "Label", "left": 600, "top": 150, "caption": "—→",
             "decorative": true, "autoSize": true},
            {"name": "Label1", "kind": "Label", "left": 600, "top": 450, "caption": "名",
             "autoSize": true},
            {"name": "List1", "kind": "ListBox", "left": 1305, "top": 510, "width": 4635,
             "height": 1230, "backColor": "0x00DE795A"}]})";
        const QString path = QDir(dir.path()).filePath(QStringLiteral("forms.json"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        rt::Form form;
        rt::FormLoader loader;
        loader.load(path, &form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(&form);
        QStringList children;
        for (int i = 0; i < face->childCount(); ++i)
            children.append(face->child(i)->object()->objectName());
        QCOMPARE(children, (QStringList{QStringLiteral("Label1"), QStringLiteral("List1")}));

        const qreal ratio = form.devicePixelRatioF();
        const QImage picture = form.grab(QRect(10, 10, 8, 8)).toImage();
        const QRgb onLine = picture.pixel(0, int(3 / 2.0 * ratio));
        if (ratio == 1.0)
            QCOMPARE(onLine, qRgb(255, 0, 0));
        else if (ratio == 2.0)
            QCOMPARE(onLine, qRgb(0, 0, 255));
        else
            QVERIFY(qBlue(onLine) > 0); // brought down from the sharper drawing

        auto *list = loader.control<rt::ListBox>(QStringLiteral("List1"));
        const QImage shot = form.grab(list->geometry()).toImage();
        const int w = shot.width(), h = shot.height();
        const QRgb inside = shot.pixel(w / 2, h / 2);
        auto shows = [&](QPoint a, QPoint b) { return shot.pixel(a) != inside || shot.pixel(b) != inside; };
        QVERIFY(shows({0, h / 2}, {1, h / 2}));
        QVERIFY(shows({w - 1, h / 2}, {w - 2, h / 2}));
        QVERIFY(shows({w / 2, 0}, {w / 2, 1}));
        QVERIFY(shows({w / 2, h - 1}, {w / 2, h - 2}));
    }

    void missingComponentFailsNamingIt()
    {
        testsupport::IsolatedDataHome home;
        rt::Form form;
        rt::FormLoader loader;
        try {
            loader.load(writeDescription(home.path(), Description), &form);
            QFAIL("loading succeeded without the component");
        } catch (const rt::ComError &e) {
            QCOMPARE(e.number(), int(rt::ErrCannotCreateObject));
            QVERIFY2(e.description().contains(QStringLiteral("Counter1")) &&
                         e.description().contains(QStringLiteral("TestLib.Counter")),
                     qPrintable(e.description()));
        }
    }

    void badDescriptionsFail_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not json") << QByteArray("{ nope");
        QTest::newRow("no container") << QByteArray(
            R"({"controls": [{"name": "L", "kind": "Label", "container": "Nowhere"}]})");
        QTest::newRow("unknown kind")
            << QByteArray(R"({"controls": [{"name": "L", "kind": "Dial"}]})");
        QTest::newRow("bad colour") << QByteArray(R"({"backColor": "blue"})");
    }

    void badDescriptionsFail()
    {
        QFETCH(QByteArray, json);
        QTemporaryDir dir;
        rt::Form form;
        rt::FormLoader loader;
        bool failed = false;
        try {
            loader.load(writeDescription(dir.path(), json), &form);
        } catch (const rt::ComError &) {
            failed = true;
        }
        QVERIFY(failed);
    }
};

QTEST_MAIN(TestFormLoader)
#include "test_formloader.moc"
