// test-labels: foundation
#include "net/BackendConfig.h"

#include <QtTest>

using namespace Qt::Literals::StringLiterals;

class TestBackendConfig : public QObject {
    Q_OBJECT

    static QString enc(const QUrl &url) { return url.toString(QUrl::FullyEncoded); }

private Q_SLOTS:
    void hotwordPath_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("path");
        QTest::newRow("delimiters and unsafe marks") << "a/b?#1 [x]\"<>\\^`{|}" << "/hotwords/a%2Fb%3F%231%20%5Bx%5D%22%3C%3E%5C%5E%60%7B%7C%7D";
        QTest::newRow("percent, and encoded text encoded again") << "50%2F" << "/hotwords/50%252F";
        QTest::newRow("unreserved, sub-delimiters and kept marks") << "Az09-._~!$'()*,;&=:@+" << "/hotwords/Az09-._~!$'()*,;&=:@+";
        QTest::newRow("chinese, accent and emoji") << u"热词é😀"_s << "/hotwords/%E7%83%AD%E8%AF%8D%C3%A9%F0%9F%98%80";
        QTest::newRow("empty") << "" << "/hotwords/";
    }
    void hotwordPath()
    {
        QFETCH(QString, word);
        QFETCH(QString, path);
        const auto url = BackendConfig::hotwordURL(word);
        QVERIFY(url.has_value());
        QCOMPARE(enc(*url), u"https://api.murlex.app"_s + path);
        QCOMPARE(url->path(QUrl::FullyEncoded), path);
        // One segment: the decoded path gives the word back exactly.
        QCOMPARE(QUrl::fromPercentEncoding(url->path(QUrl::FullyEncoded).mid(10).toLatin1()), word);
    }

    void webSocket()
    {
        // (A real token's URL: see the voice socket's suite.)
        auto url = BackendConfig::webSocketURL(QString());
        QVERIFY(url.has_value());
        QCOMPARE(enc(*url), u"wss://api.murlex.app/ws?token="_s);
        // A value that would otherwise split the query comes back intact.
        url = BackendConfig::webSocketURL(u"a&b=c+d#e f"_s);
        QVERIFY(url.has_value());
        QCOMPARE(QUrlQuery(*url).queryItemValue(u"token"_s, QUrl::FullyDecoded), u"a&b=c+d#e f"_s);
        QCOMPARE(QUrlQuery(*url).queryItems().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestBackendConfig)
#include "tst_backendconfig.moc"
