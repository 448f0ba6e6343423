#include "runtime/comerror.h"
#include "runtime/objectfactory.h"
#include "runtime/propertybag.h"
#include "runtime/registry.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QLabel>
#include <QtTest>
#include <sys/stat.h>

namespace {

// Records what a control asks of its host, and can cancel its Changed event.
class RecordingSite final : public rt::ControlSite
{
public:
    QString displayName() const override { return QStringLiteral("Counter7"); }
    bool userMode() const override { return true; }
    void propertyChanged(const QString &name) override { changed.append(name); }
    void fireEvent(rt::DispId id, QVariantList &args) override
    {
        events.append({id, args});
        if (cancelChanges)
            args[1] = true;
    }

    QStringList changed;
    QList<QPair<rt::DispId, QVariantList>> events;
    bool cancelChanges = false;
};

int errorOf(const std::function<void()> &call, QString *description = nullptr)
{
    try {
        call();
    } catch (const rt::ComError &e) {
        if (description)
            *description = e.description();
        return e.number();
    }
    return 0;
}

} // namespace

class TestComponents final : public QObject
{
    Q_OBJECT

private slots:
    void createdByClassNameOrIdentifier()
    {
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentB.ocx")));
        RecordingSite site;
        for (const QString &name :
             {QStringLiteral("TestLib.Counter"), QStringLiteral("testlib.COUNTER"),
              QStringLiteral("{7D1E6A50-3C2B-4F7A-9E11-0A0000000A01}"),
              QStringLiteral("测试库.计数器")}) {
            auto control = rt::createObject(name, &site);
            QVERIFY(control);
            QVERIFY(control->widget());
            control->initNew();
            QCOMPARE(qobject_cast<QLabel *>(control->widget())->text(), QStringLiteral("Counter7"));
        }
    }

    void lateBoundCallsByIdentifierAndName()
    {
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        RecordingSite site;
        auto control = rt::createObject(QStringLiteral("TestLib.Counter"), &site);
        control->putProperty(1, 10);
        control->put(QStringLiteral("step"), QStringLiteral("3"));
        QCOMPARE(control->invoke(3, {2}).toInt(), 16);
        QCOMPARE(control->call(QStringLiteral("ADD"), {1}).toInt(), 19);
        QCOMPARE(control->get(QStringLiteral("Value")).toInt(), 19);
        QCOMPARE(site.changed.count(QStringLiteral("Value")), 3);
        QCOMPARE(errorOf([&] { control->getProperty(99); }), int(rt::ErrNoSuchMember));
        QCOMPARE(errorOf([&] { control->get(QStringLiteral("Colour")); }),
                 int(rt::ErrNoSuchMember));
        QCOMPARE(errorOf([&] { control->invoke(3, {}); }), int(rt::ErrWrongArgumentCount));
        QCOMPARE(errorOf([&] { control->putProperty(1, QStringLiteral("x")); }),
                 int(rt::ErrTypeMismatch));
    }

    // By-reference event arguments: the component reads back what the host wrote.
    void hostChangesEventArguments()
    {
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        RecordingSite site;
        auto control = rt::createObject(QStringLiteral("TestLib.Counter"), &site);
        control->putProperty(1, 5);
        QCOMPARE(site.events.size(), 1);
        QCOMPARE(site.events[0].first, 1);
        QCOMPARE(site.events[0].second.at(0).toInt(), 5);
        site.cancelChanges = true;
        control->putProperty(1, 8);
        QCOMPARE(control->getProperty(1).toInt(), 5);
    }

    void bagReadStopsAtAnUnconvertibleValue()
    {
        testsupport::IsolatedDataHome home;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        RecordingSite site;
        auto control = rt::createObject(QStringLiteral("TestLib.Counter"), &site);
        rt::PropertyBag bag;
        bag.set(QStringLiteral("caption"), QStringLiteral("x"));
        bag.set(QStringLiteral("value"), 4);
        bag.set(QStringLiteral("step"), QStringLiteral("wide"));
        QCOMPARE(errorOf([&] { control->readProperties(bag); }), int(rt::ErrTypeMismatch));
        QCOMPARE(control->getProperty(1).toInt(), 4); // read before the failure: kept
        QCOMPARE(control->getProperty(2).toInt(), 1); // after it: unchanged
        rt::PropertyBag out;
        control->writeProperties(out);
        QCOMPARE(out.names(), QStringList({QStringLiteral("Caption"), QStringLiteral("Value")}));
    }

    void failuresNameWhatIsMissing()
    {
        testsupport::IsolatedDataHome home;
        RecordingSite site;
        QString text;
        QCOMPARE(errorOf([&] { rt::createObject(QStringLiteral("No.Such"), &site); }, &text),
                 int(rt::ErrCannotCreateObject));
        QVERIFY2(text.contains(QStringLiteral("No.Such")) &&
                     text.contains(QStringLiteral("not registered")),
                 qPrintable(text));

        // Registered, but the library file is gone or is not loadable.
        const QString copy = QDir(home.path()).filePath(QStringLiteral("Counter.ocx"));
        QVERIFY(QFile::copy(
            QDir(testsupport::binDir()).filePath(QStringLiteral("TestComponentA.ocx")), copy));
        QString error;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        rt::Registry registry;
        auto entry = *registry.find(QStringLiteral("TestLib.Counter"));
        entry.libraryPath = copy;
        QVERIFY(registry.add(entry));
        QVERIFY(QFile::remove(copy));
        QCOMPARE(
            errorOf([&] { rt::createObject(QStringLiteral("TestLib.Counter"), &site); }, &text),
            int(rt::ErrCannotCreateObject));
        QVERIFY2(text.contains(QStringLiteral("missing")) && text.contains(copy), qPrintable(text));

        QFile garbage(copy);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'x'));
        garbage.close();
        QCOMPARE(
            errorOf([&] { rt::createObject(QStringLiteral("TestLib.Counter"), &site); }, &text),
            int(rt::ErrCannotCreateObject));
        QVERIFY2(text.contains(QStringLiteral("cannot be loaded")), qPrintable(text));
    }

    // A second entry claiming the class, with a missing or a foreign library, cannot stop the
    // class from being created: lookup passes over the missing one, registering removes both.
    void plantedEntriesGiveWay()
    {
        testsupport::IsolatedDataHome home;
        RecordingSite site;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        const rt::Registry registry;
        const auto plant = [&](const QString &file, const QString &clsid, const QString &library) {
            QFile entry(QDir(registry.folder()).filePath(file));
            QVERIFY(entry.open(QIODevice::WriteOnly));
            entry.write(QStringLiteral("{\"clsid\": \"%1\", \"progId\": \"TestLib.Counter\", "
                                       "\"library\": \"%2\"}")
                            .arg(clsid, library)
                            .toUtf8());
        };
        plant(QStringLiteral("0-missing.json"),
              QStringLiteral("{00000000-0000-0000-0000-000000000001}"),
              QStringLiteral("/nonexistent/Counter.ocx"));
        QVERIFY(rt::createObject(QStringLiteral("TestLib.Counter"), &site));

        plant(QStringLiteral("0-foreign.json"),
              QStringLiteral("{00000000-0000-0000-0000-000000000002}"),
              QDir(testsupport::binDir()).filePath(QStringLiteral("libruntime.so")));
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        QCOMPARE(QDir(registry.folder()).entryList(QDir::Files).size(), 1);
        QVERIFY(rt::createObject(QStringLiteral("TestLib.Counter"), &site));
    }

    // What others could have changed is neither loaded nor believed, and the message says why.
    void filesOthersCanChangeAreRefused()
    {
        testsupport::IsolatedDataHome home;
        RecordingSite site;
        QVERIFY(testsupport::registerBuiltComponent(QStringLiteral("TestComponentA.ocx")));
        rt::Registry registry;
        const QString copy = QDir(home.path()).filePath(QStringLiteral("Counter.ocx"));
        QVERIFY(QFile::copy(
            QDir(testsupport::binDir()).filePath(QStringLiteral("TestComponentA.ocx")), copy));
        auto entry = *registry.find(QStringLiteral("TestLib.Counter"));
        entry.libraryPath = copy;
        QVERIFY(registry.add(entry));
        QVERIFY(rt::createObject(QStringLiteral("TestLib.Counter"), &site));

        QCOMPARE(::chmod(QFile::encodeName(copy).constData(), 0777), 0);
        QString text;
        QCOMPARE(
            errorOf([&] { rt::createObject(QStringLiteral("TestLib.Counter"), &site); }, &text),
            int(rt::ErrCannotCreateObject));
        QVERIFY2(text.contains(copy) && text.contains(QStringLiteral("changed by other users")),
                 qPrintable(text));

        QCOMPARE(::chmod(QFile::encodeName(copy).constData(), 0700), 0);
        const QString entryFile =
            QDir(registry.folder()).entryInfoList(QDir::Files).first().filePath();
        QCOMPARE(::chmod(QFile::encodeName(entryFile).constData(), 0666), 0);
        QCOMPARE(
            errorOf([&] { rt::createObject(QStringLiteral("TestLib.Counter"), &site); }, &text),
            int(rt::ErrCannotCreateObject));
        QVERIFY2(text.contains(QStringLiteral("not registered")) && text.contains(entryFile),
                 qPrintable(text));
    }
};

QTEST_MAIN(TestComponents)
#include "test_components.moc"
