#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include "HelperProcess.h"

// A real Wayland compositor started headless for one suite, stopped (by its process id) when
// destroyed. sway refuses to run as root: then it runs as an unprivileged system user made once
// for the purpose, with a runtime directory of its own; our processes reach it by the socket's
// absolute path, which WAYLAND_DISPLAY accepts.
class WaylandCompositor {
public:
    enum class Kind { sway, kwin };

    // Starts it and waits until its socket answers; check socket() for success.
    explicit WaylandCompositor(Kind kind, const QProcessEnvironment &extra = {});
    ~WaylandCompositor();
    WaylandCompositor(const WaylandCompositor &) = delete;
    WaylandCompositor &operator=(const WaylandCompositor &) = delete;

    // The socket's absolute path, empty when the compositor did not come up.
    const QString &socket() const { return m_socket; }
    // Why it did not come up, with the compositor's output.
    QString failure() const;
    // The environment for a program that should run natively on this compositor.
    QProcessEnvironment clientEnvironment() const { return nativeClient(m_socket); }
    // Points this process's WAYLAND_DISPLAY at the compositor and marks the session as Wayland.
    void enterSession() const;
    // Another program owning this compositor's clipboard with these formats (MIME type, bytes),
    // serving them until destroyed; null when it did not take the clipboard.
    std::unique_ptr<HelperProcess> ownClipboard(const QList<std::pair<QString, QByteArray>> &formats) const
    {
        return HelperProcess::clipboardOwner(formats, clientEnvironment(), QStringLiteral("datacontrol_owner"));
    }

    // What every compositor here runs with: its home, runtime, configuration and cache in `runtime`.
    static QProcessEnvironment compositorEnvironment(const QString &runtime);
    // A native Wayland client (Qt on its Wayland platform) of the compositor at `socket`.
    static QProcessEnvironment nativeClient(const QString &socket);
    // For a compositor's child: killed when this process dies, as a suite that crashes must not
    // leave its compositor behind.
    static void dieWithParent();

private:
    bool waitForSocket(const QString &name, int timeoutMs);

    // Under /tmp itself: the compositor's user must reach it, whatever TMPDIR this process has.
    QTemporaryDir m_runtime{QStringLiteral("/tmp/murlex-wayland-XXXXXX")};
    QProcess m_process;
    QString m_socket;
    QString m_failure;
};
