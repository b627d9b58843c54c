#pragma once

#include <QWidget>

#include <functional>

class OnboardingBackButton;

// The guide's progress row: a back button at the left (or an empty space of its size when there is
// no way back), then `totalSegments` capsules of equal width; those numbered up to `currentSegment`
// (counting from 1) are filled in the primary colour, the rest in a faint one.
class OnboardingProgressBar : public QWidget {
    Q_OBJECT
public:
    OnboardingProgressBar(int currentSegment, int totalSegments, std::function<void()> onBack,
                          QWidget *parent = nullptr);

    int currentSegment() const { return m_currentSegment; }
    int totalSegments() const { return m_totalSegments; }
    // Null when the row has no way back.
    OnboardingBackButton *backButton() const { return m_back; }
    // Where capsule `number` (from 1) is drawn, in this widget's coordinates.
    QRectF capsuleRect(int number) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_currentSegment;
    int m_totalSegments;
    OnboardingBackButton *m_back = nullptr;
};
