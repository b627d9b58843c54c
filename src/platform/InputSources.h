#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

// An input of the sound server a person can choose to record from.
struct InputSource {
    QString name;        // stable across restarts and replugging: what a choice is stored as
    QString description; // what people read, e.g. "Built-in Audio Analog Stereo"
    bool isBuiltIn = false;

    bool operator==(const InputSource &) const = default;
};

// Follows the sound server's input sources (the monitors of outputs left out), in the server's
// order. Main thread only; sourcesChanged() is emitted there.
class InputSources : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~InputSources() override = default;

    // Starts following: sourcesChanged() comes once the list has been read and again whenever a
    // source appears, disappears or is renamed, until stop(). Without a sound server the list is
    // empty. Starting again while started changes nothing.
    virtual void start() = 0;
    virtual void stop() = 0;

Q_SIGNALS:
    void sourcesChanged(const QList<InputSource> &sources);
};

Q_DECLARE_METATYPE(InputSource)
