#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Drives the harness's PulseAudio server through pactl, as a user or the desktop would:
// loading sources, switching the default source, looking at who records.
class Pactl {
public:
    // pactl's standard output, trimmed; `ok` tells whether it exited with status 0.
    static QString run(const QStringList &arguments, bool *ok = nullptr);

    // Loads a module and answers its index, or -1.
    static int loadModule(const QString &module, const QStringList &arguments);
    static bool unloadModule(int index);
    // A pipe source at `fifo` (created by the module). `properties` go to source_properties,
    // e.g. "device.form_factor=internal device.bus=pci".
    static int loadPipeSource(const QString &name, const QString &fifo, const QString &format, int rate,
                              int channels, const QString &properties = {});

    static bool setDefaultSource(const QString &name);
    // The index of the named source, or -1.
    static int sourceIndex(const QString &name);
    // The sources that recording streams (source outputs) are attached to, one entry per stream.
    static QList<int> recordingSources();
    // Whether the server keeps a sample (an uploaded sound) of this name.
    static bool hasSample(const QString &name);
};

// Counts the sink inputs (sounds playing) that appear on the server from its construction on, as
// `pactl subscribe` sees them.
class SinkInputWatch {
public:
    SinkInputWatch();
    ~SinkInputWatch();
    int count();

private:
    QProcess m_pactl;
    QString m_seen;
};
