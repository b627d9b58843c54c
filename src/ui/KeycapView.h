#pragma once

#include <QStringList>
#include <QWidget>

// A shortcut drawn as keys on a keyboard: each modifier glyph (⌃ ⌥ ⇧ ⌘) on a key of its own,
// the rest of the text on one more key.
class KeycapView : public QWidget {
    Q_OBJECT
public:
    explicit KeycapView(const QString &text = {}, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // The texts of the keys, left to right.
    QStringList keys() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int keyWidth(const QString &key) const;

    QString m_text;
};
