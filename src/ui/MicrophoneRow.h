#pragma once

#include "platform/InputSources.h"

#include <QWidget>

#include <memory>

class AppState;
class InputLevelMeter;
class LevelMeterBar;
class QComboBox;
class QLabel;

// The microphone choice: "自动(优先内置麦克风)" (what a dictation picks by itself) or one of the
// sound server's inputs by its description, stored as the input's stable name. The list follows
// inputs coming and going while the row is shown; a chosen input that is not there stays chosen
// (it may come back) and says so. While the row is visible and no dictation holds the
// microphone, a meter shows the level of the input a dictation would record from now; the input
// is released as soon as the row hides or a dictation starts.
class MicrophoneRow : public QWidget {
    Q_OBJECT
public:
    // `state` must outlive the row; the row owns the source list and the meter.
    MicrophoneRow(AppState &state, std::unique_ptr<InputSources> sources, std::unique_ptr<InputLevelMeter> meter,
                  QWidget *parent = nullptr);
    ~MicrophoneRow() override;

    static QString automaticText();

    QComboBox *chooser() const { return m_chooser; }
    LevelMeterBar *meterBar() const { return m_bar; }
    QLabel *missingCaption() const { return m_missing; }
    InputLevelMeter &meter() const { return *m_meter; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showSources(const QList<InputSource> &sources);
    void showChoice();
    void choose(int index);
    // Runs the meter while the row is shown and no dictation records; `restart` measures anew.
    void updateMeter(bool restart = false);

    AppState &m_state;
    std::unique_ptr<InputSources> m_sources;
    std::unique_ptr<InputLevelMeter> m_meter;
    QList<InputSource> m_available;
    QComboBox *m_chooser;
    LevelMeterBar *m_bar;
    QLabel *m_missing;
    bool m_shown = false;
    QString m_meteredInput; // what the running meter was started for
};
