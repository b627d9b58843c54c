#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The user's secret store: items identified by a service and an account, each holding bytes.
// Every failure is silent: a read that fails is indistinguishable from an absent item, and a
// write or removal that fails is dropped. No call blocks for longer than a short bound.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The bytes of the item, or none when there is no item or the store cannot be read.
    virtual std::optional<QByteArray> read(const QString &service, const QString &account) = 0;
    // Replaces the bytes of the item, or adds one when there is none: never more than one item
    // per service and account.
    virtual void write(const QString &service, const QString &account, const QByteArray &value) = 0;
    // Removes every item of this service and account; removing an absent item does nothing.
    virtual void remove(const QString &service, const QString &account) = 0;
};
