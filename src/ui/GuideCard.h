#pragma once

#include "ui/MUCard.h"

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

// A card that points at a missing piece of set-up: a symbol, a title, a description and, when
// there is something to do about it here, a button.
class GuideCard : public MUCard {
    Q_OBJECT
public:
    GuideCard(const QString &icon, const QString &title, const QString &description,
              std::optional<QString> actionTitle = std::nullopt, std::function<void()> action = {},
              QWidget *parent = nullptr);

    QString title() const;
    QString description() const;
    // Null without an action.
    QPushButton *actionButton() const { return m_button; }

private:
    QString m_icon;
    QLabel *m_iconLabel;
    QLabel *m_title;
    QLabel *m_description;
    QPushButton *m_button = nullptr;
};
