#include "runtime/comerror.h"
#include "runtime/payload.h"

#include <QDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

class TestPayload final : public QObject
{
    Q_OBJECT

private slots:
    void writesExactBytes()
    {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("新 文件.ocx"));
        QByteArray data(70000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 31);
        QCOMPARE(rt::writeFileAtomically(path, data), 0);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), data);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary left
    }

    // A library that another running instance has mapped keeps its old bytes.
    void replacesWithoutTouchingAMappedFile()
    {
        QTemporaryDir dir;
        const QString path = QDir(dir.path()).filePath(QStringLiteral("lib.ocx"));
        QCOMPARE(rt::writeFileAtomically(path, QByteArray(4096, 'a')), 0);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        void *map = ::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fd, 0);
        QVERIFY(map != MAP_FAILED);
        QCOMPARE(rt::writeFileAtomically(path, QByteArray(4096, 'b')), 0);
        QCOMPARE(static_cast<const char *>(map)[100], 'a');
        ::munmap(map, 4096);
        ::close(fd);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(4096, 'b'));
    }

    void failuresReturnAnErrorNumber()
    {
        QTemporaryDir dir;
        QCOMPARE(rt::writeFileAtomically(QStringLiteral("/nonexistent-dir/x.ocx"), "x"),
                 int(rt::ErrPathNotFound));
        // A folder standing where the file should go cannot be replaced.
        const QString blocked = QDir(dir.path()).filePath(QStringLiteral("blocked.ocx"));
        QVERIFY(QDir().mkpath(blocked));
        QVERIFY(rt::writeFileAtomically(blocked, "x") != 0);
        QVERIFY(QFileInfo(blocked).isDir());
    }

    void missingPayloadIsAnError()
    {
        try {
            rt::loadPayload(999, QStringLiteral("CUSTOM"));
            QFAIL("no error");
        } catch (const rt::ComError &e) {
            QCOMPARE(e.number(), int(rt::ErrResourceNotFound));
        }
    }
};

QTEST_GUILESS_MAIN(TestPayload)
#include "test_payload.moc"
