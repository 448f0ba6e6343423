#include "runtime/comerror.h"
#include "runtime/propertybag.h"

#include <QtTest>

class TestPropertyBag final : public QObject
{
    Q_OBJECT

private slots:
    // Hosts store names in lower case; controls ask in mixed case.
    void namesMatchWithoutRegardToCase()
    {
        rt::PropertyBag bag;
        bag.set(QStringLiteral("colorstyle"), 3);
        QCOMPARE(bag.read(QStringLiteral("ColorStyle"), 1).toInt(), 3);
        bag.write(QStringLiteral("COLORSTYLE"), 2, 1);
        QCOMPARE(bag.size(), 1); // replaced, not added beside it
        QCOMPARE(bag.read(QStringLiteral("colorStyle"), 1).toInt(), 2);
    }

    void absentNameGivesTheDefault()
    {
        const rt::PropertyBag bag;
        QCOMPARE(bag.read(QStringLiteral("RoundedValue"), 5).toInt(), 5);
        QCOMPARE(bag.read(QStringLiteral("Caption"), QString()).toString(), QString());
    }

    void writingTheDefaultStoresNothing_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("defaultValue");
        QTest::addColumn<bool>("stored");
        QTest::newRow("equal int") << QVariant(5) << QVariant(5) << false;
        QTest::newRow("int vs double") << QVariant(5) << QVariant(5.0) << false;
        QTest::newRow("different int") << QVariant(6) << QVariant(5) << true;
        QTest::newRow("true vs true") << QVariant(true) << QVariant(true) << false;
        QTest::newRow("false vs true") << QVariant(false) << QVariant(true) << true;
        QTest::newRow("empty text") << QVariant(QString()) << QVariant(QString()) << false;
        QTest::newRow("text") << QVariant(QStringLiteral("清 空")) << QVariant(QString()) << true;
        QTest::newRow("null picture") << QVariant(QImage()) << QVariant(QImage()) << false;
        QImage red(2, 2, QImage::Format_RGB32);
        red.fill(Qt::red);
        QTest::newRow("picture") << QVariant(red) << QVariant(QImage()) << true;
        QTest::newRow("same font") << QVariant(QFont(QStringLiteral("Tahoma"), 9))
                                   << QVariant(QFont(QStringLiteral("Tahoma"), 9)) << false;
    }

    void writingTheDefaultStoresNothing()
    {
        QFETCH(QVariant, value);
        QFETCH(QVariant, defaultValue);
        QFETCH(bool, stored);
        rt::PropertyBag bag;
        bag.set(QStringLiteral("X"), QStringLiteral("old"));
        bag.write(QStringLiteral("x"), value, defaultValue);
        QCOMPARE(bag.contains(QStringLiteral("X")), stored);
        QVERIFY(rt::PropertyBag::sameValue(bag.read(QStringLiteral("X"), defaultValue), value));
    }

    void conversionsToWholeNumbers_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("error");
        QTest::newRow("int") << QVariant(12) << 12 << 0;
        QTest::newRow("numeric text") << QVariant(QStringLiteral(" 42 ")) << 42 << 0;
        QTest::newRow("half down to even") << QVariant(2.5) << 2 << 0;
        QTest::newRow("half up to even") << QVariant(3.5) << 4 << 0;
        QTest::newRow("true is -1") << QVariant(true) << -1 << 0;
        QTest::newRow("word") << QVariant(QStringLiteral("blue")) << 0 << int(rt::ErrTypeMismatch);
        QTest::newRow("too large") << QVariant(1e12) << 0 << int(rt::ErrOverflow);
        QTest::newRow("picture") << QVariant(QImage(1, 1, QImage::Format_RGB32)) << 0
                                 << int(rt::ErrTypeMismatch);
    }

    void conversionsToWholeNumbers()
    {
        QFETCH(QVariant, value);
        QFETCH(int, expected);
        QFETCH(int, error);
        try {
            const qint32 result = rt::toInt32(value);
            QCOMPARE(error, 0);
            QCOMPARE(result, expected);
        } catch (const rt::ComError &e) {
            QCOMPARE(e.number(), error);
        }
    }

    void conversionsOfOtherTypes()
    {
        QCOMPARE(rt::toBool(QStringLiteral("True")), true);
        QCOMPARE(rt::toBool(QStringLiteral("0")), false);
        QCOMPARE(rt::toBool(-1), true);
        QCOMPARE(rt::toText(128000), QStringLiteral("128000"));
        QVERIFY(rt::toPicture(QVariant()).isNull());
        QCOMPARE(rt::toInt16(QStringLiteral("32767")), qint16(32767));
        auto mismatch = [](auto convert) {
            try {
                convert();
            } catch (const rt::ComError &e) {
                return e.number() == rt::ErrTypeMismatch;
            }
            return false;
        };
        QVERIFY(mismatch([] { rt::toBool(QStringLiteral("maybe")); }));
        QVERIFY(mismatch([] { rt::toPicture(QStringLiteral("icon.png")); }));
        QVERIFY(mismatch([] { rt::toFont(9); }));
        QVERIFY(mismatch([] { rt::toText(QImage(1, 1, QImage::Format_RGB32)); }));
    }
};

QTEST_MAIN(TestPropertyBag)
#include "test_propertybag.moc"
