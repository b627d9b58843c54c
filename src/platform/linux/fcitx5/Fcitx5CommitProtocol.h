#pragma once

// Where Murlex's Fcitx5 module answers on the session bus, inside the Fcitx5 process: written once
// for both sides (the module in fcitx5-addon/ and the client beside this file). Plain C strings, so
// the module, which has no Qt, can use them too.
//
//   Commit(s text) -> b   commits the text to the focused input context; false when none has focus
namespace Fcitx5CommitProtocol {

// The bus name Fcitx5 owns while it runs.
inline constexpr char service[] = "org.fcitx.Fcitx5";
inline constexpr char path[] = "/quillfen/MurlexMac/Fcitx5";
inline constexpr char interface[] = "quillfen.MurlexMac.Fcitx5";
inline constexpr char commitMethod[] = "Commit";

} // namespace Fcitx5CommitProtocol
