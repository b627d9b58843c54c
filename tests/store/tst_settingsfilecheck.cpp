// test-labels: foundation
// The launch check of the settings file, with Qt's own reader as the judge: every spelling the
// check calls unsafe must be one Qt turns into an object, and every one it lets through one Qt
// reads as text. The object here is a small URL, harmless to decode.
#include "store/SettingsFileCheck.h"

#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// A URL as Qt's INI writer spells it.
const QByteArray url = R"(Variant(\0\0\0\x11\0\0\0\bhttp://x))";

// A type whose reading from a stream is counted: whatever the reader deserializes, under any key.
struct Probe {};
int probesRead = 0;
QDataStream &operator<<(QDataStream &stream, const Probe &) { return stream; }
QDataStream &operator>>(QDataStream &stream, Probe &) { ++probesRead; return stream; }
// A Probe as Qt's INI writer spells it, without its leading '@'.
const QByteArray probe = R"(Variant(\0\0\0\x7f\0\0\0\x6Probe\0))";
} // namespace

Q_DECLARE_METATYPE(Probe)

class TestSettingsFileCheck : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void agreesWithQtsReader_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("unsafe");
        QTest::newRow("plain") << "@" + url << true;
        QTest::newRow("hex escape beyond 16 bits") << QByteArray("\\x10040") + url << true;
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
        const bool qtMadeAnObject = read.typeId() == QMetaType::QUrl || read.typeId() == QMetaType::QDateTime;
        QCOMPARE(qtMadeAnObject, unsafe);
    }

    // Random arrangements of what steers the reader (quotes, escapes, separators, line breaks,
    // comments, sections) around markers: whatever Qt turns into an object, the check calls unsafe.
    void neverMissesWhatQtDeserializes()
    {
        qRegisterMetaType<Probe>();
        const QByteArray pieces[] = {"\"", "=", ",", ";", "\\", "\n", "\r", " ", "a", "[", "]", "@",
                                     "@" + probe, "@" + probe, "k=@" + probe, probe, "\\x40", "\\0100", "\\x", "\\\n", "k="};
        QTemporaryDir dir;
        QRandomGenerator random(7);
        const int rounds = 3000;
        int qtObjects = 0;
        for (int round = 0; round < rounds; ++round) {
            QByteArray ini;
            for (int count = random.bounded(1, 14); count > 0; --count)
                ini += pieces[random.bounded(int(std::size(pieces)))];
            // A file of its own each time: the reader caches what it parsed by name, size and time.
            const QString path = dir.filePath(QStringLiteral("%1.conf").arg(round));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(ini);
            file.close();
            const QSettings settings(path, QSettings::IniFormat);
            probesRead = 0;
            (void)settings.allKeys(); // parses every section
            const bool object = probesRead > 0;
            qtObjects += object;
            if (object)
                QVERIFY2(SettingsFileCheck::holdsSerializedObject(ini), ini.toPercentEncoding().constData());
            QFile::remove(path);
        }
        QVERIFY(qtObjects > rounds / 20);
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
