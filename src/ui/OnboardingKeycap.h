#pragma once

#include <QWidget>

// A text shown as a key cap: a light rounded face with a shadow edge below, the text centred on it.
class OnboardingKeycap : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingKeycap(const QString &text, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};
