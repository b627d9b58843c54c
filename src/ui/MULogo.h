#pragma once

#include <QColor>
#include <QWidget>

// The product mark: a rounded square in the given colour holding a white sound wave, `size`
// pixels on each side.
class MULogo : public QWidget {
    Q_OBJECT
public:
    explicit MULogo(int size = 36, QColor color = {}, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_size;
    QColor m_color;
};
