// test-labels: foundation
#include "net/BackendConfig.h"

#include <QtTest>

class TestBackendConfig : public QObject {
    Q_OBJECT

    static QString enc(const QUrl &url) { return url.toString(QUrl::FullyEncoded); }

private Q_SLOTS:
    void hotwordPath_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("path");
        QTest::newRow("slash") << "a/b" << "/hotwords/a%2Fb";
        QTest::newRow("question mark and hash") << "why?#1" << "/hotwords/why%3F%231";
        QTest::newRow("percent") << "50%" << "/hotwords/50%25";
        QTest::newRow("space") << "two words" << "/hotwords/two%20words";
        QTest::newRow("plus") << "A+B" << "/hotwords/A+B";
        QTest::newRow("kept marks") << "a&b=c:d@e~f" << "/hotwords/a&b=c:d@e~f";
        QTest::newRow("sub-delimiters") << "!$'()*,;" << "/hotwords/!$'()*,;";
        QTest::newRow("unreserved") << "Az09-._~" << "/hotwords/Az09-._~";
        QTest::newRow("chinese") << QString::fromUtf8("热词") << "/hotwords/%E7%83%AD%E8%AF%8D";
        QTest::newRow("accent and emoji") << QString::fromUtf8("é😀") << "/hotwords/%C3%A9%F0%9F%98%80";
        QTest::newRow("already encoded text is encoded again") << "%2F" << "/hotwords/%252F";
        QTest::newRow("brackets and quotes") << "[x]\"<>\\^`{|}" << "/hotwords/%5Bx%5D%22%3C%3E%5C%5E%60%7B%7C%7D";
        QTest::newRow("empty") << "" << "/hotwords/";
    }

    void hotwordPath()
    {
        QFETCH(QString, word);
        QFETCH(QString, path);
        const auto url = BackendConfig::hotwordURL(word);
        QVERIFY(url.has_value());
        QCOMPARE(enc(*url), QStringLiteral("https://api.murlex.app") + path);
        QCOMPARE(url->path(QUrl::FullyEncoded), path);
        // One segment: the decoded path gives the word back exactly.
        QCOMPARE(QUrl::fromPercentEncoding(url->path(QUrl::FullyEncoded).mid(10).toLatin1()), word);
    }

    void hotwordThatIsNotUtf8()
    {
        const QString lone = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b");
        QVERIFY(!BackendConfig::hotwordURL(lone).has_value());
        QVERIFY(!BackendConfig::hotwordURL(QString(QChar(0xDC00))).has_value());
    }

    void webSocket()
    {
        const QString jwt = QStringLiteral("eyJhbGciOiJIUzI1NiJ9.eyJzdWIiOiJ1In0.sig-_AZ09");
        auto url = BackendConfig::webSocketURL(jwt);
        QVERIFY(url.has_value());
        QCOMPARE(enc(*url), QStringLiteral("wss://api.murlex.app/ws?token=") + jwt);

        url = BackendConfig::webSocketURL(QString());
        QVERIFY(url.has_value());
        QCOMPARE(enc(*url), QStringLiteral("wss://api.murlex.app/ws?token="));

        // A value that would otherwise split the query comes back intact.
        url = BackendConfig::webSocketURL(QStringLiteral("a&b=c+d#e f"));
        QVERIFY(url.has_value());
        QCOMPARE(QUrlQuery(*url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded),
                 QStringLiteral("a&b=c+d#e f"));
        QCOMPARE(QUrlQuery(*url).queryItems().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBackendConfig)
#include "tst_backendconfig.moc"
