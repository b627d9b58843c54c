#pragma once

#include <QWidget>

// A thin horizontal bar that fills from the left with a level between 0 and 1: the input level of
// a microphone. Drawn in the palette's colours with the product's green, so it reads in a light
// and a dark theme.
class LevelMeterBar : public QWidget {
    Q_OBJECT
public:
    explicit LevelMeterBar(QWidget *parent = nullptr);

    double level() const { return m_level; }
    void setLevel(double level);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_level = 0;
};
