// libsecret pulls in GLib, whose headers must come before Qt's.
#include <libsecret/secret.h>

#include "platform/linux/secret/LibsecretStore.h"

#include "core/AppIdentity.h"
#include "platform/linux/secret/CancellableDeadline.h"

#include <memory>

namespace {

constexpr auto secretSchemaName = AppIdentity::qualified("Secret");

// Items are matched on "service" and "account" only, whoever created them.
const SecretSchema *tokenSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = secretSchemaName;
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

struct HashTableUnref {
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableUnref>;

Attributes identity(const QString &service, const QString &account)
{
    GHashTable *table = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
    g_hash_table_insert(table, g_strdup("service"), g_strdup(service.toUtf8().constData()));
    g_hash_table_insert(table, g_strdup("account"), g_strdup(account.toUtf8().constData()));
    return Attributes(table);
}

// Every failure of the store is silent by design: the error is only released.
void discard(GError *&error)
{
    g_clear_error(&error);
}

} // namespace

LibsecretStore::LibsecretStore(std::chrono::milliseconds callTimeout)
    : m_callTimeout(callTimeout)
{
}

std::optional<QByteArray> LibsecretStore::read(const QString &service, const QString &account)
{
    const CancellableDeadline deadline(m_callTimeout);
    const Attributes attributes = identity(service, account);
    GError *error = nullptr;
    SecretValue *value = secret_service_lookup_sync(nullptr, tokenSchema(), attributes.get(),
                                                    deadline.cancellable(), &error);
    discard(error);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar *bytes = secret_value_get(value, &length);
    QByteArray result = bytes ? QByteArray(bytes, qsizetype(length)) : QByteArray("");
    secret_value_unref(value);
    return result;
}

void LibsecretStore::write(const QString &service, const QString &account, const QByteArray &value)
{
    const CancellableDeadline deadline(m_callTimeout);
    const Attributes attributes = identity(service, account);
    GError *error = nullptr;
    GList *items = secret_service_search_sync(nullptr, tokenSchema(), attributes.get(),
                                              SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK),
                                              deadline.cancellable(), &error);
    if (error) {
        discard(error);
        return;
    }

    SecretValue *secret = secret_value_new(value.constData(), gssize(value.size()), "text/plain");
    if (items) {
        // Replace the data of the existing item; any further item of the same identity goes.
        secret_item_set_secret_sync(SECRET_ITEM(items->data), secret, deadline.cancellable(), &error);
        discard(error);
        for (GList *extra = items->next; extra; extra = extra->next) {
            secret_item_delete_sync(SECRET_ITEM(extra->data), deadline.cancellable(), &error);
            discard(error);
        }
    } else {
        const QByteArray label = QStringLiteral("%1 (%2)").arg(service, account).toUtf8();
        secret_service_store_sync(nullptr, tokenSchema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                  label.constData(), secret, deadline.cancellable(), &error);
        discard(error);
    }
    secret_value_unref(secret);
    g_list_free_full(items, g_object_unref);
}

void LibsecretStore::remove(const QString &service, const QString &account)
{
    const CancellableDeadline deadline(m_callTimeout);
    const Attributes attributes = identity(service, account);
    GError *error = nullptr;
    secret_service_clear_sync(nullptr, tokenSchema(), attributes.get(), deadline.cancellable(), &error);
    discard(error);
}
