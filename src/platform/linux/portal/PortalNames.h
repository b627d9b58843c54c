#pragma once

// The names of the desktop portal on the session bus.
namespace PortalNames {
inline constexpr char service[] = "org.freedesktop.portal.Desktop";
inline constexpr char objectPath[] = "/org/freedesktop/portal/desktop";
inline constexpr char requestBase[] = "/org/freedesktop/portal/desktop/request";
inline constexpr char sessionBase[] = "/org/freedesktop/portal/desktop/session";
inline constexpr char requestInterface[] = "org.freedesktop.portal.Request";
inline constexpr char sessionInterface[] = "org.freedesktop.portal.Session";
inline constexpr char globalShortcuts[] = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr char remoteDesktop[] = "org.freedesktop.portal.RemoteDesktop";
// xdg-desktop-portal 1.17 and later: the clipboard of a RemoteDesktop session.
inline constexpr char clipboard[] = "org.freedesktop.portal.Clipboard";
// xdg-desktop-portal 1.19 and later: host applications say who they are before their first call.
inline constexpr char registry[] = "org.freedesktop.host.portal.Registry";
} // namespace PortalNames
