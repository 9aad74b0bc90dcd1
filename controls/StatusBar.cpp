#include "StatusBar.h"

#include <QEvent>

namespace toolkit {

StatusBar::StatusBar(std::initializer_list<int> widths, QWidget* parent) : QWidget(parent), widths_(widths)
{
    for (std::size_t i = 0; i < widths_.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(Qt::AlignCenter);
        panel->setTextFormat(Qt::PlainText);
        panels_.push_back(panel);
    }
    place();
}

// Panels that show many different texts (the reply bytes) would otherwise
// lay out every text again only to learn whether it fits.
constexpr qsizetype kMaxRemembered = 1024;

int StatusBar::advance(const QLabel& panel)
{
    const auto found = advances_.constFind(panel.text());
    if (found != advances_.constEnd())
        return *found;
    if (advances_.size() >= kMaxRemembered)
        advances_.clear();
    return *advances_.insert(panel.text(), panel.fontMetrics().horizontalAdvance(panel.text()));
}

void StatusBar::align(QLabel& panel)
{
    const int room = panel.contentsRect().width() - 2 * panel.margin();
    const bool fits = advance(panel) <= room;
    panel.setAlignment(fits ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
}

void StatusBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        advances_.clear();  // every panel shares the bar's font
    QWidget::changeEvent(event);
}

void StatusBar::setText(int index, const QString& text)
{
    QLabel& label = panel(index);
    label.setText(text);
    align(label);
}

void StatusBar::resizeEvent(QResizeEvent*) { place(); }

void StatusBar::place()
{
    int left = 0;
    for (std::size_t i = 0; i < panels_.size(); ++i) {
        const bool last = i + 1 == panels_.size();
        const int width = last ? std::max(0, this->width() - left) : widths_[i];
        panels_[i]->setGeometry(left, 0, width, height());
        align(*panels_[i]);
        left += width;
    }
}

}  // namespace toolkit
