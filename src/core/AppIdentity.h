#pragma once

#include <QString>

#include <cstddef>

// Who this application is to the system: the one place its names are written. The settings, the
// data directory, the secret store's items, the stored keys, the log categories and the sound
// server's client name all derive from these.
namespace AppIdentity {

// A name built at compile time; converts to the C string it holds.
template <std::size_t N>
struct Name {
    char text[N]{};
    constexpr operator const char *() const { return text; }
};

// "<first>.<second>"
template <std::size_t A, std::size_t B>
consteval Name<A + B> dotted(const char (&first)[A], const char (&second)[B])
{
    Name<A + B> name;
    std::size_t at = 0;
    for (std::size_t i = 0; i + 1 < A; ++i)
        name.text[at++] = first[i];
    name.text[at++] = '.';
    for (std::size_t i = 0; i + 1 < B; ++i)
        name.text[at++] = second[i];
    return name;
}

inline constexpr char organization[] = "quillfen";
inline constexpr char applicationName[] = "MurlexMac";
// The name a person sees.
inline constexpr char displayName[] = "Murlex";
// The reverse-DNS identifier, "quillfen.MurlexMac".
inline constexpr auto bundleIdentifier = dotted(organization, applicationName);

// "<bundleIdentifier>.<suffix>", e.g. qualified("hotwords.cache").
template <std::size_t N>
consteval auto qualified(const char (&suffix)[N])
{
    return dotted(bundleIdentifier.text, suffix);
}

// Sets the organisation and application names of the running application; call it before anything
// reads the settings or the data directory.
void install();
// <XDG data home>/<bundleIdentifier>: the application's own files (diagnostics, usage figures).
QString dataDirectory();

} // namespace AppIdentity
