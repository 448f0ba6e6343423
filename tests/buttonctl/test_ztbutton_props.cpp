// The button's public face: identity, members, defaults, persistence and the setter pattern.

#include "runtime/comerror.h"
#include "runtime/formloader.h"
#include "runtime/propertybag.h"
#include "runtime/registry.h"
#include "tests/buttonctl/buttonfixture.h"
#include "tests/support/testsupport.h"

#include <QWidget>
#include <QtTest>

using namespace buttontest;

namespace {

const QStringList InitOrder{"Caption",          "ForeColor",    "ColorStyle", "FocusDottedRect",
                            "Enabled",          "Icon",         "IconMask",   "RoundedValue",
                            "CaptionAlignment", "IconAlignment"};

QImage solid(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Every property but the font, in bag order, as (name, id).
const QList<QPair<QString, rt::DispId>> BagOrder{{"Caption", Caption},
                                                 {"ForeColor", ForeColor},
                                                 {"ColorStyle", ColorStyle},
                                                 {"FocusDottedRect", FocusDottedRect},
                                                 {"Enabled", Enabled},
                                                 {"Icon", Icon},
                                                 {"IconMask", IconMask},
                                                 {"RoundedValue", RoundedValue},
                                                 {"CaptionAlignment", CaptionAlignment},
                                                 {"IconAlignment", IconAlignment}};

} // namespace

class TestZTbuttonProps final : public QObject
{
    Q_OBJECT

private:
    testsupport::IsolatedDataHome m_home;

private slots:
    void initTestCase() { QVERIFY(registerButtonLibrary()); }

    void libraryIdentity()
    {
        const auto entry = rt::Registry().find(QString::fromUtf8(ProgId));
        QVERIFY(entry.has_value());
        QCOMPARE(entry->typeLibName, QString::fromUtf8("ZantoXP按扭"));
        QCOMPARE(entry->typeLibVersion, QStringLiteral("4.0"));
        QCOMPARE(entry->fileVersion, QStringLiteral("1.20"));
        // Hosts store the class identity: it must not change between builds.
        QCOMPARE(entry->clsid, QStringLiteral("{6B0C2E31-94D7-4F1A-B3A5-2E8C1D7F4A01}"));

        TestSite site;
        auto button = createButton(site); // loads the library and its resources
        const QImage toolbox(QStringLiteral(":/ztbutton/toolbox.xpm"));
        QCOMPARE(toolbox.size(), QSize(16, 15));
    }

    void properties_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("help");
        const char *rows[][3] = {
            {"CaptionAlignment", "1745027082", "(ZantoXP按扭)返回/设置按扭的本对齐方式"},
            {"IconAlignment", "1745027081", "(ZantoXP按扭)返回/设置按扭的图标对齐方式"},
            {"Caption", "1745027080", "(ZantoXP按扭)返回/设置按扭的标题"},
            {"ForeColor", "1745027079", "(ZantoXP按扭)返回/设置按扭的字体颜色"},
            {"ColorStyle", "1745027078", "(ZantoXP按扭)返回/设置按扭的样式"},
            {"FocusDottedRect", "1745027077", "(ZantoXP按扭)返回/设置按扭的是否有焦点"},
            {"Enabled", "1745027076", "(ZantoXP按扭)返回/设置一个值按扭的是否响应用户事件"},
            {"FontType", "1745027075", "(ZantoXP按扭)返回/设置一个值按扭的字体"},
            {"IconMask", "1745027074", "(ZantoXP按扭)返回/设置一个值按扭的Mask图标"},
            {"Icon", "1745027073", "(ZantoXP按扭)返回/设置一个值按扭的图标"},
            {"RoundedValue", "1745027072", "(ZantoXP按扭)返回/设置一个值按扭的圆角度数"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QByteArray(row[1]).toInt()
                                  << QString::fromUtf8(row[2]);
    }

    void properties()
    {
        QFETCH(QString, name);
        QFETCH(int, id);
        QFETCH(QString, help);
        TestSite site;
        auto button = createButton(site);
        QCOMPARE(button->dispIdOf(name), id);
        for (const rt::MemberInfo &m : button->members()) {
            if (m.kind == rt::MemberKind::Property && m.name == name) {
                QCOMPARE(m.help, help);
                QVERIFY(m.canGet && m.canPut);
            }
        }
    }

    void eventsAndUnknownMembers()
    {
        TestSite site;
        auto button = createButton(site);
        const QStringList names{"Click",       "DoubleClick", "KeyDown",   "KeyPress",
                                "KeyUp",       "MouseDown",   "MouseMove", "MouseUp",
                                "MouseEnters", "MouseLeaves"};
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(button->dispIdOf(names[i], rt::MemberKind::Event), i + 1);
        int properties = 0;
        for (const rt::MemberInfo &m : button->members())
            properties += m.kind == rt::MemberKind::Property ? 1 : 0;
        QCOMPARE(properties, 11);

        // Identifiers outside the table are refused, never guessed.
        for (rt::DispId id : {0x6803000B, 0x67FFFFFF, 0}) {
            try {
                button->getProperty(id);
                QFAIL("getProperty accepted an unknown identifier");
            } catch (const rt::ComError &e) {
                QCOMPARE(e.number(), int(rt::ErrNoSuchMember));
            }
            QVERIFY_THROWS_EXCEPTION(rt::ComError, button->putProperty(id, 1));
        }
        QVERIFY_THROWS_EXCEPTION(rt::ComError, button->invoke(1, {}));
    }

    void newButtonDefaults()
    {
        TestSite site;
        site.name = QStringLiteral("ZTbutton7");
        auto button = createButton(site);
        button->initNew();
        QCOMPARE(button->getProperty(Caption).toString(), QStringLiteral("ZTbutton7"));
        QCOMPARE(button->getProperty(ForeColor).toInt(), 0);
        QCOMPARE(button->getProperty(ColorStyle).toInt(), 1);
        QCOMPARE(button->getProperty(CaptionAlignment).toInt(), 2);
        QCOMPARE(button->getProperty(IconAlignment).toInt(), 1);
        QCOMPARE(button->getProperty(RoundedValue).toInt(), 5);
        QCOMPARE(button->getProperty(FocusDottedRect).toBool(), true);
        QCOMPARE(button->getProperty(Enabled).toBool(), true);
        QVERIFY(button->getProperty(Icon).value<QImage>().isNull());
        QVERIFY(button->getProperty(IconMask).value<QImage>().isNull());
        const QFont font = button->getProperty(FontType).value<QFont>();
        QCOMPARE(font.family(), QStringLiteral("Tahoma"));
        QCOMPARE(font.pointSize(), 9);
        // Each step goes through its setter, so the host hears of each one in order.
        QCOMPARE(site.changes, InitOrder);
    }

    void bagRoundTrip()
    {
        TestSite site;
        auto button = createButton(site);
        button->initNew();
        const QImage icon = solid(8, 8, qRgb(200, 10, 10));
        const QImage mask = solid(8, 8, qRgb(0, 0, 0));
        button->putProperty(Caption, QStringLiteral("开始转换  "));
        button->putProperty(ColorStyle, 3);
        button->putProperty(FocusDottedRect, false);
        button->putProperty(Icon, icon);
        button->putProperty(IconMask, mask);
        button->putProperty(CaptionAlignment, 1);
        QFont big(QStringLiteral("Arial"), 20);
        button->putProperty(FontType, big);
        QCOMPARE(button->getProperty(FontType).value<QFont>(), big); // shows at once

        rt::PropertyBag bag;
        button->writeProperties(bag);
        QStringList names = bag.names();
        names.sort();
        QStringList expected{"Caption", "CaptionAlignment", "ColorStyle", "FocusDottedRect",
                             "Icon",    "IconMask"};
        QCOMPARE(names, expected); // only what differs, never the font

        TestSite site2;
        auto loaded = createButton(site2);
        loaded->readProperties(bag);
        for (const auto &[name, id] : BagOrder)
            QVERIFY2(rt::PropertyBag::sameValue(loaded->getProperty(id), button->getProperty(id)),
                     qPrintable(name));
        QCOMPARE(loaded->getProperty(FontType).value<QFont>().family(), QStringLiteral("Tahoma"));
    }

    void defaultsStoreNothing()
    {
        TestSite site;
        auto button = createButton(site);
        button->initNew();
        button->putProperty(Caption, QString());
        rt::PropertyBag bag;
        button->writeProperties(bag);
        QVERIFY2(bag.isEmpty(), qPrintable(bag.names().join(',')));
    }

    void lowerCaseAndMissingNames()
    {
        // What the converter's window descriptions hold.
        const QImage icon = solid(32, 32, qRgb(0, 128, 0));
        const QImage mask = solid(32, 32, qRgb(255, 255, 255));
        rt::PropertyBag bag;
        bag.set("_extentx", 3069);
        bag.set("_extenty", 1191);
        bag.set("caption", QStringLiteral("开始转换  "));
        bag.set("colorstyle", 3);
        bag.set("captionalignment", 1);
        bag.set("focusdottedrect", false);
        bag.set("enabled", false);
        bag.set("icon", icon);
        bag.set("iconmask", mask);
        TestSite site;
        auto button = createButton(site);
        button->readProperties(bag);
        QCOMPARE(button->getProperty(Caption).toString(), QStringLiteral("开始转换  "));
        QCOMPARE(button->getProperty(ColorStyle).toInt(), 3);
        QCOMPARE(button->getProperty(CaptionAlignment).toInt(), 1);
        QCOMPARE(button->getProperty(FocusDottedRect).toBool(), false);
        QCOMPARE(button->getProperty(Enabled).toBool(), false);
        QCOMPARE(button->getProperty(Icon).value<QImage>(), icon);
        QCOMPARE(button->getProperty(IconMask).value<QImage>(), mask);
        // Missing names give their defaults.
        QCOMPARE(button->getProperty(RoundedValue).toInt(), 5);
        QCOMPARE(button->getProperty(IconAlignment).toInt(), 1);
        QCOMPARE(button->getProperty(ForeColor).toInt(), 0);

        rt::PropertyBag empty;
        auto blank = createButton(site);
        blank->readProperties(empty);
        QCOMPARE(blank->getProperty(Caption).toString(), QString());
        QCOMPARE(blank->getProperty(ColorStyle).toInt(), 1);
        QCOMPARE(blank->getProperty(Enabled).toBool(), true);
        QCOMPARE(blank->getProperty(CaptionAlignment).toInt(), 2);
    }

    void unconvertibleValueStopsRead_data()
    {
        QTest::addColumn<int>("bad"); // index into BagOrder
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("error");
        QTest::newRow("caption") << 0 << QVariant(QImage(2, 2, QImage::Format_RGB32)) << 13;
        QTest::newRow("forecolor") << 1 << QVariant(QStringLiteral("red")) << 13;
        QTest::newRow("enabled") << 4 << QVariant(QStringLiteral("maybe")) << 13;
        QTest::newRow("icon") << 5 << QVariant(QStringLiteral("start.png")) << 13;
        QTest::newRow("roundedvalue overflow") << 7 << QVariant(1e12) << 6;
        QTest::newRow("iconalignment") << 9 << QVariant(QStringLiteral("left")) << 13;
    }

    void unconvertibleValueStopsRead()
    {
        QFETCH(int, bad);
        QFETCH(QVariant, value);
        QFETCH(int, error);
        const QList<QVariant> previous{
            QStringLiteral("before"),   0x112233, 2, false, false, solid(4, 4, qRgb(1, 2, 3)),
            solid(4, 4, qRgb(4, 5, 6)), 9,        0, 2};
        const QList<QVariant> stored{
            QStringLiteral("after"),    0x445566, 3, true, true, solid(6, 6, qRgb(7, 8, 9)),
            solid(6, 6, qRgb(9, 8, 7)), 12,       1, 1};
        TestSite site;
        auto button = createButton(site);
        button->initNew();
        rt::PropertyBag bag;
        for (int i = 0; i < BagOrder.size(); ++i) {
            button->putProperty(BagOrder[i].second, previous[i]);
            bag.set(BagOrder[i].first.toLower(), i == bad ? value : stored[i]);
        }
        try {
            button->readProperties(bag);
            QFAIL("the read accepted an unconvertible value");
        } catch (const rt::ComError &e) {
            QCOMPARE(e.number(), error);
        }
        for (int i = 0; i < BagOrder.size(); ++i) {
            if (i == bad)
                continue;
            const QVariant expected = i < bad ? stored[i] : previous[i];
            QVERIFY2(rt::PropertyBag::sameValue(button->getProperty(BagOrder[i].second), expected),
                     qPrintable(BagOrder[i].first));
        }
    }

    void valuesAreNotChecked_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("value");
        QTest::newRow("ColorStyle 4") << int(ColorStyle) << 4;
        QTest::newRow("ColorStyle 0") << int(ColorStyle) << 0;
        QTest::newRow("CaptionAlignment 7") << int(CaptionAlignment) << 7;
        QTest::newRow("IconAlignment 0") << int(IconAlignment) << 0;
        QTest::newRow("RoundedValue -3") << int(RoundedValue) << -3;
        QTest::newRow("ForeColor system colour") << int(ForeColor) << int(0x80000012);
    }

    void valuesAreNotChecked()
    {
        QFETCH(int, id);
        QFETCH(int, value);
        TestSite site;
        auto button = createButton(site);
        button->initNew();
        button->putProperty(id, value);
        QCOMPARE(button->getProperty(id).toInt(), value);
        // And the same through a save and a load.
        rt::PropertyBag bag;
        button->writeProperties(bag);
        auto loaded = createButton(site);
        loaded->readProperties(bag);
        QCOMPARE(loaded->getProperty(id).toInt(), value);
    }

    // The way the converter's windows get their buttons: by class name from a description.
    void hostedThroughAWindowDescription()
    {
        QTemporaryDir dir;
        const QImage icon = solid(32, 32, qRgb(0, 128, 0));
        QVERIFY(icon.save(dir.filePath("start_icon.png")));
        QFile file(dir.filePath("form.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"name": "Form1", "caption": "t", "clientWidth": 6000, "clientHeight": 3000,
          "controls": [
            {"name": "ZTbutton3", "kind": "Component", "class": "ZantoXP按扭.ZTbutton",
             "left": 1440, "top": 600, "width": 1740, "height": 675, "tag": "0",
             "bag": {"_extentx": 3069, "_extenty": 1191, "caption": "开始转换  ",
                     "colorstyle": 3, "captionalignment": 1, "focusdottedrect": false,
                     "icon": {"picture": "start_icon.png"}}},
            {"name": "ZTbutton9", "kind": "Component", "class": "ZantoXP按扭.ZTbutton",
             "left": 150, "top": 150, "width": 1350, "height": 330}]})");
        file.close();

        rt::Form form;
        rt::FormLoader loader;
        loader.load(file.fileName(), &form);
        rt::ComponentHost *start = loader.host("ZTbutton3");
        QVERIFY(start && start->widget());
        QCOMPARE(start->widget()->geometry(), QRect(96, 40, 116, 45));
        QCOMPARE(start->get(Caption).toString(), QStringLiteral("开始转换  "));
        QCOMPARE(start->get(ColorStyle).toInt(), 3);
        QCOMPARE(start->get(Icon).value<QImage>().pixel(5, 5), icon.pixel(5, 5));
        QCOMPARE(surface(*start->control()).size(), QSize(116, 45));
        QCOMPARE(loader.host("ZTbutton9")->get(Caption).toString(), QStringLiteral("ZTbutton9"));

        int clicks = 0;
        start->onEvent(Click, [&](QVariantList &) { ++clicks; });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(start->widget(), Qt::LeftButton, {}, QPoint(58, 22));
        QCOMPARE(clicks, 1);
        start->put(Enabled, false); // late-bound, as the batch locks the window
        QTest::mouseClick(start->widget(), Qt::LeftButton, {}, QPoint(58, 22));
        QCOMPARE(clicks, 1);
        start->put(Enabled, true);
        QTest::keyClick(start->widget(), Qt::Key_Return);
        QCOMPARE(clicks, 2);
    }

    void sameValueStillNotifiesAndRedraws_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        const QList<QPair<QString, rt::DispId>> all =
            BagOrder + QList<QPair<QString, rt::DispId>>{{"FontType", FontType}};
        for (const auto &[name, id] : all)
            QTest::newRow(qPrintable(name)) << int(id) << name;
    }

    void sameValueStillNotifiesAndRedraws()
    {
        QFETCH(int, id);
        QFETCH(QString, name);
        TestSite site;
        auto button = newButton(site, 90, 22);
        site.clear();
        const QImage before = surface(*button);
        button->putProperty(id, button->getProperty(id));
        QCOMPARE(site.changes, QStringList{name});
        // The surface was drawn again (an image's key changes whenever it is altered).
        QVERIFY(surface(*button).cacheKey() != before.cacheKey());
    }
};

QTEST_MAIN(TestZTbuttonProps)
#include "test_ztbutton_props.moc"
