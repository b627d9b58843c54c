#pragma once

#include <QWidget>

// A drawn status symbol: a white check in a filled green circle, or a white exclamation mark in a
// filled orange triangle. Static: it never animates.
class StatusGlyph : public QWidget {
    Q_OBJECT
public:
    enum class Kind { check, warning };
    static const QColor green;
    static const QColor orange;

    explicit StatusGlyph(Kind kind, QWidget *parent = nullptr);
    Kind kind() const { return m_kind; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Kind m_kind;
};
