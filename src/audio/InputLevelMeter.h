#pragma once

#include "platform/AudioSystem.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

// How loud an input is right now, for a level meter a person watches while choosing a
// microphone: records from the input while running (and only then), and reports a smoothed level
// between 0 (silence, or below kFloorDb) and 1 (full scale) on the main thread several times a
// second. The peak of each refresh interval rises at once and falls back gently.
//
// Threads: main thread, but for the engine's tap, which only raises an atomic peak.
class InputLevelMeter : public QObject {
    Q_OBJECT
public:
    // How often the level is reported while running.
    static constexpr std::chrono::milliseconds kRefreshInterval{50};
    // Levels at or below this many dB under full scale show as 0.
    static constexpr double kFloorDb = -60.0;
    // How much of the scale a falling level loses per refresh.
    static constexpr double kFallPerRefresh = 0.06;

    explicit InputLevelMeter(std::shared_ptr<AudioSystem> system,
                             std::chrono::milliseconds refreshInterval = kRefreshInterval, QObject *parent = nullptr);
    ~InputLevelMeter() override;

    // Starts recording from the input named `inputName`, or, when it is empty or not there, from
    // the input a dictation would choose by itself (the built-in microphone, else the system's
    // default). Restarts when running. False when nothing records.
    bool start(const QString &inputName);
    // Stops recording (the input is released at once) and returns the level to 0.
    void stop();
    bool isRunning() const { return m_engine != nullptr; }
    double level() const { return m_level; }

    // The level, 0 to 1, that a peak sample magnitude (full scale 1) shows as.
    static double levelOfPeak(double peak);

Q_SIGNALS:
    void levelChanged(double level);

private:
    void refresh();
    void setLevel(double level);
    std::optional<AudioDeviceID> deviceFor(const QString &inputName);
    void tap(const AudioBuffer &buffer);

    const std::shared_ptr<AudioSystem> m_system;
    std::unique_ptr<AudioEngine> m_engine;
    QString m_inputName;
    QTimer m_refresh;
    std::atomic<float> m_peak{0}; // the loudest sample since the last refresh, written by the tap
    double m_level = 0;
};
