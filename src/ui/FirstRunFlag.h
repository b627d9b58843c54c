#pragma once

#include <QObject>

#include <memory>

class QSettings;

// Whether the person has been through the first-run guide: the boolean "hasCompletedOnboarding"
// of the application's settings (false until set). The main window chooses its content on it;
// the guide sets it when finished, and the settings' "重看" clears it.
class FirstRunFlag : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding WRITE setCompletedOnboarding NOTIFY changed)
public:
    static constexpr const char *key = "hasCompletedOnboarding";

    // `settingsPath`: an INI file to keep it in; empty for the application's standard settings.
    explicit FirstRunFlag(const QString &settingsPath = {}, QObject *parent = nullptr);
    ~FirstRunFlag() override;

    bool hasCompletedOnboarding() const { return m_value; }
    // Stores the value at once; changed() fires only on a change.
    void setCompletedOnboarding(bool completed);

Q_SIGNALS:
    void changed(bool hasCompletedOnboarding);

private:
    std::unique_ptr<QSettings> m_settings;
    bool m_value;
};
