#pragma once

#include <QWidget>

class QVBoxLayout;

// The rounded container of the home tab's cards: a soft fill and outline taken from the palette,
// and a content area `padding` pixels inside the edge.
class MUCard : public QWidget {
    Q_OBJECT
public:
    explicit MUCard(int padding = 16, QWidget *parent = nullptr);

    // Where the card's content goes.
    QVBoxLayout *content() const { return m_content; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_content;
};
