// Scroll areas for content that may be taller than the screen: they scroll up and down only.
#ifndef KALDER_UI_SCROLLING_H
#define KALDER_UI_SCROLLING_H

#include <QScrollArea>
#include <QStyle>
#include <algorithm>

// Makes the area as wide as its content needs (with room for the vertical scroll bar), so the
// content is never cut at the side; only its height scrolls. Call once the content is built.
inline void scrollVerticallyOnly(QScrollArea* area) {
    QWidget* content = area->widget();
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int contentWidth = std::max(content->minimumSizeHint().width(), content->minimumWidth());
    area->setMinimumWidth(contentWidth + area->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                          2 * area->frameWidth());
}

#endif  // KALDER_UI_SCROLLING_H
