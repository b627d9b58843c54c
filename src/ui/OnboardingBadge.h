#pragma once

#include <QWidget>

// The large symbol at the top of a guide page, drawn: the application's mark (a white microphone
// on a blue rounded square), a microphone, a shield with a lock, or a filled circle with a check.
class OnboardingBadge : public QWidget {
    Q_OBJECT
public:
    enum class Symbol { logo, microphone, lockShield, checkmark };

    explicit OnboardingBadge(Symbol symbol, int size, QWidget *parent = nullptr);

    Symbol symbol() const { return m_symbol; }
    void setSymbol(Symbol symbol);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Symbol m_symbol;
};
