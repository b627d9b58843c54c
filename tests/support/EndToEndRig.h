#pragma once

#include "DevServer.h"
#include "HelperProcess.h"
#include "MurlexProcess.h"
#include "RedirectingNetworkAccess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

// Everything a real dictation needs, as a person has it: the stand-in backend, the user signed in
// against it (tokens in the keyring), a clipboard owned by another program, a focused text field
// in a second program, and the application (MurlexProcess) started with a home of its own. The
// harness provides the X server, the microphone (the pipe source) and the keyring.
class EndToEndRig {
public:
    static constexpr const char *subject = "e2e-user";
    // What the clipboard holds before any dictation, served by another program.
    static QString clipboardText();

    EndToEndRig();
    ~EndToEndRig();

    // Starts it all and waits until the application has registered its shortcut and taken the
    // server's hot words. False (see failure()) when any part did not come up.
    bool start(const QStringList &serverHotWords);
    QString failure() const { return m_failure; }

    DevServer &server() { return m_server; }
    MurlexProcess &app() { return *m_app; }
    HelperProcess &target() { return *m_target; }
    // The environment the application runs with (its own HOME and XDG directories).
    QProcessEnvironment appEnvironment() const;

    // Signs the user in again through the sign-in exchange: fresh tokens in the keyring.
    bool signIn();
    // Gives the text field the keyboard focus.
    bool focusField();
    // Presses and releases Control+Alt+Space on the X server.
    static bool pressShortcut();
    static qint64 monotonicNs();

    // The field's whole text as it last reported it, and how often it changed.
    QString fieldText() const { return fieldTextOf(*m_target); }
    static QString fieldTextOf(const HelperProcess &field);
    int fieldChanges() const;
    // The clipboard's text as another client reads it now; none when it cannot be read.
    static std::optional<QString> clipboardNow();

    // What the stand-in's polisher says it heard, read back from its text, e.g.
    // "Duration 2.00 s, level -9.0 dBFS, frequency 440 Hz. Hot words: Murlex, Qt."
    struct Heard {
        double seconds = 0;
        double hertz = 0;
        QString hotWords;
    };
    static std::optional<Heard> heard(const QString &polished);

    struct Dictation {
        QString inserted;        // what the field gained
        qint64 firstPressNs = 0; // CLOCK_MONOTONIC just before each press
        qint64 secondPressNs = 0;
        qint64 textSeenNs = 0;   // when this process saw the field's new text
    };
    // One dictation as a person does it: press, speak `pcm` into the microphone once the capture
    // runs, press again, and wait for the field to change. None (see failure()) on a timeout.
    // `toggle` stands in for the shortcut press (selecting the tray menu's item, say).
    std::optional<Dictation> dictate(const QByteArray &pcm, const std::function<bool()> &toggle = {});

private:
    bool fail(const QString &why);
    std::nullopt_t missing(const QString &why);

    DevServer m_server;
    std::unique_ptr<RedirectingNetworkAccess> m_access;
    QTemporaryDir m_home;
    QTemporaryDir m_runtime;
    std::unique_ptr<HelperProcess> m_clipboardOwner;
    std::unique_ptr<HelperProcess> m_target;
    QString m_window;
    std::unique_ptr<MurlexProcess> m_app;
    QString m_failure;
};
