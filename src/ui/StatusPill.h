#pragma once

#include <QWidget>

// "LIVE" with a green dot while on, "OFF" with a grey one while off, in a rounded pill.
class StatusPill : public QWidget {
    Q_OBJECT
public:
    explicit StatusPill(bool isOn = false, QWidget *parent = nullptr);

    bool isOn() const { return m_isOn; }
    void setOn(bool on);
    QString text() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_isOn;
};
