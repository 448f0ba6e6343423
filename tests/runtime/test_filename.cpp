// File names are bytes: every name, UTF-8 or not, comes back to the same bytes, shows readably,
// and a name Qt's dialogs could only show with U+FFFD is found again.
#include "runtime/filename.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class TestFileName final : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ASCII") << QByteArray("a b.wav") << QStringLiteral("a b.wav");
        QTest::newRow("UTF-8") << QByteArray("歌 曲.wav") << QStringLiteral("歌 曲.wav");
        QTest::newRow("outside the BMP")
            << QByteArray("\xF0\x9F\x8E\xB5.wav") << QStringLiteral("\U0001F3B5.wav");
        QTest::newRow("U+FFFD itself")
            << QByteArray("\xEF\xBF\xBD.wav") << QStringLiteral("\uFFFD.wav");
        QTest::newRow("Latin-1") << QByteArray("caf\xE9 \xC0.wav")
                                 << QStringLiteral("caf\\xE9 \\xC0.wav");
        QTest::newRow("GBK") << QByteArray("\xD6\xD0\xCE\xC4.wav")
                             << QStringLiteral("\\xD6\\xD0\\xCE\\xC4.wav");
        QTest::newRow("overlong form")
            << QByteArray("\xC0\xAF\xE0\x80\xAF") << QStringLiteral("\\xC0\\xAF\\xE0\\x80\\xAF");
        QTest::newRow("encoded surrogate")
            << QByteArray("\xED\xB3\xA9") << QStringLiteral("\\xED\\xB3\\xA9");
        QTest::newRow("past U+10FFFF")
            << QByteArray("\xF4\x90\x80\x80") << QStringLiteral("\\xF4\\x90\\x80\\x80");
        QTest::newRow("cut at the end") << QByteArray("a\xE6\xAD") << QStringLiteral("a\\xE6\\xAD");
        QTest::newRow("bad between good")
            << QByteArray("\xE6\xAD\x8C\xFF\xE6\xAD\x8C") << QStringLiteral("歌\\xFF歌");
    }

    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString name = rt::decodeFileName(bytes);
        QCOMPARE(rt::encodeFileName(name).toHex(), bytes.toHex());
        QCOMPARE(rt::displayFileName(name), shown);
        const bool utf8 =
            QString::fromUtf8(bytes).toUtf8() == bytes && !shown.contains(QStringLiteral("\\x"));
        QCOMPARE(rt::hasForeignBytes(name), !utf8);
        if (utf8) // what Qt's own file classes see
            QCOMPARE(name, QFile::decodeName(bytes));
        // Path operations keep the bytes: made absolute against a folder that is not UTF-8.
        const QString folder = rt::decodeFileName("/tmp/d\xE9");
        QCOMPARE(rt::encodeFileName(rt::absolutePath(QStringLiteral("./") + name, folder)),
                 QByteArray("/tmp/d\xE9/") + bytes);
    }

    // What Qt's dialog hands back for such a name is mapped to the real file, in any part of the
    // path; a name two files share in Qt's decoding stays as it is.
    void recoverDialogNames()
    {
        QTemporaryDir dir;
        const auto clean = qScopeGuard([&] { testsupport::removeTree(dir.path()); });
        const QByteArray base = QFile::encodeName(dir.path());
        QVERIFY(::mkdir((base + "/d\xE9").constData(), 0755) == 0);
        for (const QByteArray &name : {QByteArray("/d\xE9/caf\xE9.wav"), QByteArray("/x\xE8.wav"),
                                       QByteArray("/x\xE9.wav"), QByteArray("/ok.wav")})
            QVERIFY(testsupport::touchBytes(base + name));
        const auto recovered = [&](const QByteArray &name) {
            return rt::encodeFileName(rt::recoverFileName(QFile::decodeName(base + name)));
        };
        QCOMPARE(recovered("/d\xE9/caf\xE9.wav"), base + "/d\xE9/caf\xE9.wav");
        QCOMPARE(recovered("/ok.wav"), base + "/ok.wav");
        QCOMPARE(recovered("/x\xE9.wav"),
                 QFile::encodeName(QFile::decodeName(base + "/x\xE9.wav")));
        QCOMPARE(recovered("/gone\xE9.wav"),
                 QFile::encodeName(QFile::decodeName(base + "/gone\xE9.wav")));
    }
};

QTEST_GUILESS_MAIN(TestFileName)
#include "test_filename.moc"
