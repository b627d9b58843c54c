#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

// One shortcut as the GlobalShortcuts portal passes it, D-Bus type (sa{sv}): its identifier and
// its properties ("description", "preferred_trigger" when binding; "trigger_description" in the
// desktop's answer).
struct PortalShortcut {
    QString id;
    QVariantMap properties;

    // Registers the D-Bus marshalling of PortalShortcut and QList<PortalShortcut> once.
    static void registerMetaTypes();
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut);

Q_DECLARE_METATYPE(PortalShortcut)
