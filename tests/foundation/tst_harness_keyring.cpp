// test-labels: foundation harness
// Proves the harness's Secret Service: a secret stored through libsecret is read back.
#include <libsecret/secret.h>

#include <QtTest>

class TestHarnessKeyring : public QObject {
    Q_OBJECT

    static const SecretSchema *schema()
    {
        static const SecretSchema s = [] {
            SecretSchema schema{};
            schema.name = "quillfen.MurlexMac.HarnessProbe";
            schema.flags = SECRET_SCHEMA_NONE;
            schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
            schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
            return schema;
        }();
        return &s;
    }

private Q_SLOTS:
    void storedSecretIsReadBack()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"), "no session bus: run the tests through scripts/harness.sh");
        GError *error = nullptr;
        const gboolean stored = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, "harness probe",
                                                           "s3cr3t-é", nullptr, &error,
                                                           "service", "murlex-harness", "account", "probe", nullptr);
        QVERIFY2(stored, error ? error->message : "store failed");

        gchar *value = secret_password_lookup_sync(schema(), nullptr, &error,
                                                   "service", "murlex-harness", "account", "probe", nullptr);
        QVERIFY2(value, error ? error->message : "lookup found nothing");
        QCOMPARE(QString::fromUtf8(value), QString::fromUtf8("s3cr3t-é"));
        secret_password_free(value);

        QVERIFY(secret_password_clear_sync(schema(), nullptr, &error, "service", "murlex-harness", "account", "probe", nullptr));
    }
};

QTEST_GUILESS_MAIN(TestHarnessKeyring)
#include "tst_harness_keyring.moc"
