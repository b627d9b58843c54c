#pragma once

#include <QColor>
#include <QWidget>

// A small rounded tag reading "Beta" in the given blue, on a pale fill of the same colour.
class BetaBadge : public QWidget {
    Q_OBJECT
public:
    explicit BetaBadge(QColor blue = {}, QWidget *parent = nullptr);

    QString text() const { return QStringLiteral("Beta"); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_blue;
};
