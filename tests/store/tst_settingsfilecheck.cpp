// test-labels: foundation
// The launch check of the settings file, with Qt's own reader as the judge: every spelling the
// check calls unsafe must be one Qt turns into an object, and every one it lets through one Qt
// reads as text. The object here is a small URL, harmless to decode.
#include "store/SettingsFileCheck.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// A URL as Qt's INI writer spells it.
const QByteArray url = R"(Variant(\0\0\0\x11\0\0\0\bhttp://x))";
} // namespace

class TestSettingsFileCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithQtsReader_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("unsafe");
        QTest::newRow("plain") << "@" + url << true;
        QTest::newRow("quoted") << "\"@" + url + "\"" << true;
        QTest::newRow("hex escape") << QByteArray("\\x40") + url << true;
        QTest::newRow("hex escape beyond 16 bits") << QByteArray("\\x10040") + url << true;
        QTest::newRow("octal escape") << QByteArray("\\0100") + url << true;
        QTest::newRow("leading spaces") << "   @" + url << true;
        QTest::newRow("list element") << "x, @" + url << true;
        QTest::newRow("empty quotes first") << "\"\"@" + url << true;
        QTest::newRow("trailing comment") << "@" + url + " ;note" << true;
        QTest::newRow("continued line") << QByteArray("@Vari\\\nant(\\0\\0\\0\\x11\\0\\0\\0\\bhttp://x)") << true;
        QTest::newRow("date time") << QByteArray(R"(@DateTime(\0\0\0\x10\0\0\0\0\0\0%\x8e\xc6\x2\xe2\xca'\0))") << true;
        // What Murlex writes, and what only looks alike.
        QTest::newRow("escaped marker") << "@@" + url << false;
        QTest::newRow("marker inside text") << "a@" + url << false;
        QTest::newRow("marker after a quoted comma") << "\"x,@" + url + "\"" << false;
        QTest::newRow("unknown escape") << "\\@" + url << false;
        QTest::newRow("escaped quote") << "\\\"@" + url << false;
        QTest::newRow("commented out") << ";@" + url << false;
        QTest::newRow("byte array") << QByteArray("@ByteArray([{\"op\":\"add\"}])") << false;
        QTest::newRow("empty list") << QByteArray("@Invalid()") << false;
    }
    void agreesWithQtsReader()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, unsafe);
        const QByteArray ini = "[General]\nfirst=1\nkey=" + value + "\nlast=2\n";
        // The same value behind keys whose first '=' is escaped or quoted.
        for (const QByteArray &key : {QByteArray("a\\=b"), QByteArray("c\"=d\"")})
            QCOMPARE(SettingsFileCheck::holdsSerializedObject("[General]\n" + key + "=" + value + "\n"), unsafe);
        QCOMPARE(SettingsFileCheck::holdsSerializedObject(ini), unsafe);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("murlex.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
        file.close();
        const QVariant read = QSettings(path, QSettings::IniFormat).value(QStringLiteral("key"));
        const bool qtMadeAnObject = read.typeId() == QMetaType::QUrl || read.typeId() == QMetaType::QDateTime ||
                                    (read.typeId() == QMetaType::QVariantList &&
                                     read.toList().constLast().typeId() == QMetaType::QUrl);
        QCOMPARE(qtMadeAnObject, unsafe);
    }

    void setsAsideOnlyWhatItMustAndKeepsTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("MurlexMac.conf"));
        const auto write = [&](const QByteArray &bytes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(bytes);
        };

        write("[General]\ndebugMode=true\n");
        QCOMPARE(SettingsFileCheck::setAsideIfUnsafe(path), std::nullopt);
        QVERIFY(QFile::exists(path));
        QCOMPARE(SettingsFileCheck::setAsideIfUnsafe(dir.filePath(QStringLiteral("missing.conf"))), std::nullopt);

        // Set aside again and again: no copy replaces an earlier one.
        const QByteArray hostile = "[General]\nkey=@" + url + "\n";
        for (int round = 0; round < 3; ++round) {
            write(hostile);
            const std::optional<QString> aside = SettingsFileCheck::setAsideIfUnsafe(path);
            QVERIFY(aside);
            QVERIFY(!QFile::exists(path));
            QFile kept(*aside);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), hostile);
        }
        write(QByteArray(SettingsFileCheck::maxFileBytes + 1, 'a'));
        QVERIFY(SettingsFileCheck::setAsideIfUnsafe(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestSettingsFileCheck)
#include "tst_settingsfilecheck.moc"
