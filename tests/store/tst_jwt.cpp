// test-labels: auth
#include "store/JWT.h"

#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {
QString segment(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}
// header.payload.signature with the payload given as JSON text
QString token(const QByteArray &payloadJson)
{
    return segment(R"({"alg":"HS256","typ":"JWT"})") + QLatin1Char('.') + segment(payloadJson) + u".c2lnbmF0dXJl"_s;
}
QDateTime utc(qint64 msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }
} // namespace

using OptionalBytes = std::optional<QByteArray>;
using OptionalDate = std::optional<QDateTime>;
using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(OptionalBytes)
Q_DECLARE_METATYPE(OptionalDate)
Q_DECLARE_METATYPE(OptionalText)

class TestJWT : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void base64URLDecode_data()
    {
        QTest::addColumn<QString>("segment");
        QTest::addColumn<OptionalBytes>("expected");
        // (Every valid unpadded length and the URL alphabet: see the round trip below.)
        QTest::newRow("4k+1: three appended, fails") << "QUJDR" << OptionalBytes();
        QTest::newRow("standard alphabet passes too") << "+/8" << OptionalBytes("\xfb\xff");
        QTest::newRow("padding already present") << "QQ==" << OptionalBytes("A");
        QTest::newRow("padding in the middle") << "QQ==QUJD" << OptionalBytes();
        QTest::newRow("padding then data") << "Q=Q=" << OptionalBytes();
        QTest::newRow("too much padding") << "QQ===" << OptionalBytes();
        QTest::newRow("whitespace") << "QU JD" << OptionalBytes();
        QTest::newRow("non-ASCII") << QString::fromUtf8("QUé") << OptionalBytes();
    }
    void base64URLDecode()
    {
        QFETCH(QString, segment);
        QFETCH(OptionalBytes, expected);
        QCOMPARE(JWT::base64URLDecode(segment), expected);
    }

    void base64URLDecodeRoundTripsEveryLength()
    {
        QByteArray bytes;
        for (int n = 0; n < 64; ++n) {
            QCOMPARE(JWT::base64URLDecode(segment(bytes)), OptionalBytes(bytes));
            bytes.append(char(0xF9 - n * 7));
        }
    }

    void expiry_data()
    {
        const QString payload = segment(R"({"exp":1700000000,"sub":"u"})");
        QTest::addColumn<QString>("token");
        QTest::addColumn<OptionalDate>("expected");
        QTest::newRow("integer") << token(R"({"exp":1700000000})") << OptionalDate(utc(1700000000000));
        QTest::newRow("fraction kept") << token(R"({"exp":1700000000.25})") << OptionalDate(utc(1700000000250));
        QTest::newRow("before 1970") << token(R"({"exp":-1.5})") << OptionalDate(utc(-1500));
        QTest::newRow("empty header and signature still three pieces")
            << (QLatin1Char('.') + payload + QLatin1Char('.')) << OptionalDate(utc(1700000000000));
        QTest::newRow("digits as a string") << token(R"({"exp":"1700000000"})") << OptionalDate();
        QTest::newRow("boolean") << token(R"({"exp":true})") << OptionalDate();
        QTest::newRow("missing") << token(R"({"sub":"x"})") << OptionalDate();
        QTest::newRow("array payload") << token(R"([1700000000])") << OptionalDate();
        QTest::newRow("not JSON") << token("exp=1700000000") << OptionalDate();
        QTest::newRow("payload not base64") << (u"a."_s + payload + u"!.c"_s) << OptionalDate();
        QTest::newRow("two pieces") << (u"a."_s + payload) << OptionalDate();
        QTest::newRow("four pieces") << (u"a."_s + payload + u".c.d"_s) << OptionalDate();
        QTest::newRow("empty middle piece") << (u"a.."_s + payload) << OptionalDate();
        QTest::newRow("not a token") << "opaque-access-token" << OptionalDate();
    }
    void expiry()
    {
        QFETCH(QString, token);
        QFETCH(OptionalDate, expected);
        QCOMPARE(JWT::expiry(token), expected);
    }

    void expiryFarBeyondAnyTokenStaysOrdered()
    {
        const OptionalDate future = JWT::expiry(token(R"({"exp":1e300})"));
        const OptionalDate past = JWT::expiry(token(R"({"exp":-1e300})"));
        QVERIFY(future && future->isValid());
        QVERIFY(past && past->isValid());
        QVERIFY(*future > QDateTime::currentDateTimeUtc().addYears(1000));
        QVERIFY(*past < QDateTime::fromMSecsSinceEpoch(0, Qt::UTC).addYears(-1000));
    }

    void subject_data()
    {
        const QString payload = segment(R"({"sub":"user-42","exp":1})");
        QTest::addColumn<QString>("token");
        QTest::addColumn<OptionalText>("expected");
        QTest::newRow("three pieces") << token(R"({"sub":"user-42"})") << OptionalText("user-42");
        QTest::newRow("exactly two pieces") << (u"hdr."_s + payload) << OptionalText("user-42");
        QTest::newRow("leading dot") << (u".hdr."_s + payload) << OptionalText("user-42");
        QTest::newRow("empty pieces dropped") << (u"hdr.."_s + payload + u".."_s) << OptionalText("user-42");
        QTest::newRow("non-ASCII") << token(R"({"sub":"用户"})") << OptionalText(QString::fromUtf8("用户"));
        QTest::newRow("empty subject") << token(R"({"sub":""})") << OptionalText(QString(""));
        QTest::newRow("number") << token(R"({"sub":42})") << OptionalText();
        QTest::newRow("missing") << token(R"({"exp":1})") << OptionalText();
        QTest::newRow("array payload") << token(R"(["user-42"])") << OptionalText();
        QTest::newRow("one piece") << payload << OptionalText();
        QTest::newRow("one piece between dots") << (QLatin1Char('.') + payload + QLatin1Char('.')) << OptionalText();
        QTest::newRow("payload not base64") << (u"hdr.@@@@"_s) << OptionalText();
    }
    void subject()
    {
        QFETCH(QString, token);
        QFETCH(OptionalText, expected);
        QCOMPARE(JWT::subject(token), expected);
    }
};

QTEST_GUILESS_MAIN(TestJWT)
#include "tst_jwt.moc"
