#include "platform/linux/x11/GnomeKeyBindings.h"

#include "platform/linux/x11/X11KeyCodes.h"

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

namespace {
const char *const schemas[] = {
    "org.gnome.desktop.wm.keybindings",
    "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings",
    "org.gnome.shell.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys",
};

void collect(GVariant *value, QList<HotKeyService::KeyCombo> &out)
{
    auto add = [&out](const char *text) {
        if (const auto combo = GnomeKeyBindings::parseAccelerator(QString::fromUtf8(text)))
            out.append(*combo);
    };
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        add(g_variant_get_string(value, nullptr));
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        const gchar **strings = g_variant_get_strv(value, nullptr);
        for (const gchar **s = strings; s && *s; ++s)
            add(*s);
        g_free(strings);
    }
}
} // namespace

QList<HotKeyService::KeyCombo> GnomeKeyBindings::reservedShortcuts()
{
    QList<HotKeyService::KeyCombo> result;
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return result;
    for (const char *id : schemas) {
        GSettingsSchema *schema = g_settings_schema_source_lookup(source, id, TRUE);
        if (!schema)
            continue;
        GSettings *settings = g_settings_new_full(schema, nullptr, nullptr);
        gchar **keys = g_settings_schema_list_keys(schema);
        for (gchar **key = keys; key && *key; ++key) {
            GVariant *value = g_settings_get_value(settings, *key);
            collect(value, result);
            g_variant_unref(value);
        }
        g_strfreev(keys);
        g_object_unref(settings);
        g_settings_schema_unref(schema);
    }
    return result;
}

std::optional<HotKeyService::KeyCombo> GnomeKeyBindings::parseAccelerator(const QString &accelerator)
{
    qint64 modifiers = 0;
    QString rest = accelerator.trimmed();
    while (rest.startsWith(QLatin1Char('<'))) {
        const qsizetype end = rest.indexOf(QLatin1Char('>'));
        if (end < 0)
            return std::nullopt;
        const QString name = rest.mid(1, end - 1).toLower();
        rest = rest.mid(end + 1);
        if (name == u"control" || name == u"ctrl" || name == u"ctl" || name == u"primary")
            modifiers |= HotKeyService::controlKey;
        else if (name == u"alt" || name == u"mod1")
            modifiers |= HotKeyService::optionKey;
        else if (name == u"shift")
            modifiers |= HotKeyService::shiftKey;
        else if (name == u"super" || name == u"mod4")
            modifiers |= HotKeyService::cmdKey;
        else
            return std::nullopt; // a modifier with no counterpart among the shortcut's bits
    }
    if (rest.isEmpty())
        return std::nullopt;
    const QByteArray keyName = rest.toUtf8();
    xkb_keysym_t keysym = xkb_keysym_from_name(keyName.constData(), XKB_KEYSYM_NO_FLAGS);
    if (keysym == XKB_KEY_NoSymbol)
        keysym = xkb_keysym_from_name(keyName.constData(), XKB_KEYSYM_CASE_INSENSITIVE);
    const auto keyCode = keysym == XKB_KEY_NoSymbol ? std::nullopt : X11KeyCodes::keyCodeFor(keysym);
    if (!keyCode)
        return std::nullopt;
    return HotKeyService::KeyCombo{*keyCode, modifiers};
}
