#include "mainform/status_panel.h"

#include <QPainter>

namespace rawdat {

namespace {
constexpr int kTextMargin = 2;
}

StatusPanel::StatusPanel(const QString& text, int width, QWidget* parent) : QWidget(parent), text_(text), width_(width)
{
    setMinimumWidth(width);
}

void StatusPanel::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
}

QSize StatusPanel::sizeHint() const { return {width_, fontMetrics().height()}; }

void StatusPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawText(rect().adjusted(kTextMargin, 0, -kTextMargin, 0), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

} // namespace rawdat
