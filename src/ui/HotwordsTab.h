#pragma once

#include <QWidget>

class HotWordsStore;
class HotwordsSection;

// The hot words tab: one grouped section, "热词", holding the store's words and their editing.
class HotwordsTab : public QWidget {
    Q_OBJECT
public:
    explicit HotwordsTab(HotWordsStore &store, QWidget *parent = nullptr);

    HotwordsSection *section() const { return m_section; }

private:
    HotwordsSection *m_section;
};
