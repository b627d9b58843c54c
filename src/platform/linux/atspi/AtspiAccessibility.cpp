#include <atspi/atspi.h>

#include "platform/linux/atspi/AtspiAccessibility.h"

#include "app/AppLogger.h"

#include <unistd.h>

namespace {

// Bounds on the walk through one window's tree: real windows stay far below them.
constexpr int maxDepth = 64;
constexpr int maxVisited = 5000;

struct ObjectRef {
    explicit ObjectRef(gpointer object = nullptr) : object(object) {}
    ~ObjectRef()
    {
        if (object)
            g_object_unref(object);
    }
    ObjectRef(const ObjectRef &) = delete;
    ObjectRef &operator=(const ObjectRef &) = delete;
    gpointer object;
};

struct ErrorSlot {
    ~ErrorSlot() { g_clear_error(&error); }
    GError *error = nullptr;
};

bool hasState(AtspiAccessible *accessible, AtspiStateType state)
{
    ObjectRef states(atspi_accessible_get_state_set(accessible));
    return states.object && atspi_state_set_contains(static_cast<AtspiStateSet *>(states.object), state);
}

// The first showing descendant (or the node itself) that has the keyboard focus; a new reference.
AtspiAccessible *findFocused(AtspiAccessible *node, int depth, int &visited)
{
    if (++visited > maxVisited || depth > maxDepth)
        return nullptr;
    if (hasState(node, ATSPI_STATE_FOCUSED))
        return static_cast<AtspiAccessible *>(g_object_ref(node));
    ErrorSlot error;
    const gint children = atspi_accessible_get_child_count(node, &error.error);
    for (gint i = 0; i < children && !error.error; ++i) {
        ObjectRef child(atspi_accessible_get_child_at_index(node, i, nullptr));
        auto *accessible = static_cast<AtspiAccessible *>(child.object);
        if (!accessible || !hasState(accessible, ATSPI_STATE_SHOWING))
            continue;
        if (AtspiAccessible *found = findFocused(accessible, depth + 1, visited))
            return found;
    }
    return nullptr;
}

class AtspiElement : public AccessibleElement {
public:
    explicit AtspiElement(AtspiAccessible *accessible) : m_accessible(accessible) {}

    std::optional<QString> textValue() override
    {
        ObjectRef text(atspi_accessible_get_text_iface(static_cast<AtspiAccessible *>(m_accessible.object)));
        if (!text.object)
            return std::nullopt;
        auto *iface = static_cast<AtspiText *>(text.object);
        ErrorSlot error;
        const gint count = atspi_text_get_character_count(iface, &error.error);
        if (error.error)
            return std::nullopt;
        gchar *value = atspi_text_get_text(iface, 0, count, &error.error);
        if (error.error || !value) {
            g_free(value);
            return std::nullopt;
        }
        const QString result = QString::fromUtf8(value);
        g_free(value);
        return result;
    }

    int setTextValue(const QString &value) override
    {
        ObjectRef editable(atspi_accessible_get_editable_text_iface(static_cast<AtspiAccessible *>(m_accessible.object)));
        if (!editable.object)
            return AtspiAccessibility::notEditable;
        ErrorSlot error;
        const gboolean written = atspi_editable_text_set_text_contents(
            static_cast<AtspiEditableText *>(editable.object), value.toUtf8().constData(), &error.error);
        if (error.error)
            return error.error->code != 0 ? error.error->code : AtspiAccessibility::refused;
        return written ? 0 : AtspiAccessibility::refused;
    }

private:
    ObjectRef m_accessible;
};

} // namespace

std::unique_ptr<AccessibleElement> AtspiAccessibility::focusedElement()
{
    static const bool connected = [] {
        const int status = atspi_init();
        if (status > 1)
            qCCritical(AppLogger::injection, "AT-SPI unavailable (%d)", status);
        return status <= 1;
    }();
    if (!connected)
        return nullptr;

    ObjectRef desktop(atspi_get_desktop(0));
    auto *root = static_cast<AtspiAccessible *>(desktop.object);
    if (!root)
        return nullptr;
    // States change without this process listening for events: ask afresh, not from a cache.
    atspi_accessible_clear_cache(root);

    ErrorSlot error;
    const gint applications = atspi_accessible_get_child_count(root, &error.error);
    for (gint a = 0; a < applications && !error.error; ++a) {
        ObjectRef application(atspi_accessible_get_child_at_index(root, a, nullptr));
        auto *app = static_cast<AtspiAccessible *>(application.object);
        // Asking this process from its own main thread would wait for itself.
        if (!app || atspi_accessible_get_process_id(app, nullptr) == guint(getpid()))
            continue;
        const gint windows = atspi_accessible_get_child_count(app, nullptr);
        for (gint w = 0; w < windows; ++w) {
            ObjectRef window(atspi_accessible_get_child_at_index(app, w, nullptr));
            auto *win = static_cast<AtspiAccessible *>(window.object);
            if (!win || !hasState(win, ATSPI_STATE_ACTIVE))
                continue;
            int visited = 0;
            if (AtspiAccessible *focused = findFocused(win, 0, visited))
                return std::make_unique<AtspiElement>(focused);
        }
    }
    return nullptr;
}
