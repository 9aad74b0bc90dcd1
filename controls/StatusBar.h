#pragma once
// A status bar of fixed panels: each panel has a set width, centred text and a
// lowered bevel; the last panel reaches to the right edge whatever its width.

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QWidget>

#include <initializer_list>
#include <vector>

namespace toolkit {

class StatusBar final : public QWidget {
    Q_OBJECT
public:
    StatusBar(std::initializer_list<int> widths, QWidget* parent = nullptr);

    int panelCount() const { return static_cast<int>(panels_.size()); }
    QLabel& panel(int index) { return *panels_.at(static_cast<std::size_t>(index)); }
    QString text(int index) const { return panels_.at(static_cast<std::size_t>(index))->text(); }
    // Centred when it fits; otherwise its start is shown.
    void setText(int index, const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void place();
    void align(QLabel& panel);
    // The text's width in the panels' font, measured once per text.
    int advance(const QLabel& panel);

    std::vector<int> widths_;
    std::vector<QLabel*> panels_;
    QHash<QString, int> advances_;
};

}  // namespace toolkit
